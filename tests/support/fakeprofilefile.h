#pragma once

#include "profilefile.h"

#include <QStringList>

#include <map>
#include <tuple>

// Settings kept in memory. Names match without regard to case and surrounding
// blanks, and reads are cut to bufferSize - 1 characters, like the real file.
// Every writeString call is logged in writes as "section/key=value", refused
// ones included; while refuseWrites is set, writes store nothing and answer
// false.
class FakeProfileFile final : public ProfileFile {
public:
    QStringList writes;
    bool refuseWrites = false;
    // What readProblem answers, for every file.
    QString problem;

    // Stores a value without logging it, to prepare a test.
    void set(const QString &section, const QString &key, const QString &value, const QString &file)
    {
        m_values[slot(file, section, key)] = value;
    }

    QString readProblem(const QString &) const override { return problem; }

    QString getString(const QString &section, const QString &key, const QString &defaultValue,
                      int bufferSize, const QString &file) const override
    {
        const auto found = m_values.find(slot(file, section, key));
        QString value = found == m_values.end() ? defaultValue : found->second;
        if (bufferSize <= 0)
            return {};
        if (value.size() > bufferSize - 1)
            value.truncate(bufferSize - 1);
        return value;
    }

    bool writeString(const QString &section, const QString &key, const QString &value,
                     const QString &file) override
    {
        writes << section + u'/' + key + u'=' + value;
        if (refuseWrites)
            return false;
        set(section, key, value, file);
        return true;
    }

private:
    using Slot = std::tuple<QString, QString, QString>;

    static Slot slot(const QString &file, const QString &section, const QString &key)
    {
        return {file, section.trimmed().toLower(), key.trimmed().toLower()};
    }

    std::map<Slot, QString> m_values;
};
