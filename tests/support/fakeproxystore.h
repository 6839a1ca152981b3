#pragma once

#include "proxystore.h"

#include <QList>
#include <QTest>

// Keeps the record in memory. Every set() is logged in sets, refused ones
// included; while refuse is set, nothing is stored and set() answers false.
// query() hands back what was last stored, or stored as a test prepared it;
// storedRecord() the same, unless chosen says the reader stored nothing yet.
class FakeProxyStore final : public ProxyStore {
public:
    ProxyRecord query() const override
    {
        ++queries;
        return stored;
    }
    std::optional<ProxyRecord> storedRecord() const override
    {
        return chosen ? std::optional<ProxyRecord>(stored) : std::nullopt;
    }
    bool set(const ProxyRecord &record) override
    {
        sets.append(record);
        if (refuse)
            return false;
        stored = record;
        chosen = true;
        return true;
    }

    ProxyRecord stored{ProxyAccess::Direct, QString(), QString()};
    bool chosen = true;
    QList<ProxyRecord> sets;
    bool refuse = false;
    mutable int queries = 0;
};

// Lets QCOMPARE print records.
inline char *toString(const ProxyRecord &record)
{
    return QTest::toString(QStringLiteral("{%1, \"%2\", \"%3\"}")
                               .arg(record.accessType)
                               .arg(record.proxy, record.bypass));
}
