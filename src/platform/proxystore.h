#pragma once

#include <QString>

#include <optional>

// Access types of a proxy configuration record.
namespace ProxyAccess {
constexpr quint32 Direct = 1; // connections go straight to the server
constexpr quint32 Proxy = 3;  // connections go through the proxy list
} // namespace ProxyAccess

// The Internet proxy configuration of the user, as one record.
//
// proxy: entries separated by single spaces, each a protocol keyword, a host,
// a colon and a port, such as "http=10.0.0.1:8080 ftp=10.0.0.2:21"; the
// keywords are "http=", "https=", "ftp=", "gopher=" and "socks=".
// bypass: addresses that go straight to the server, separated by spaces; the
// entry "<local>" stands for every host name without a dot.
struct ProxyRecord {
    quint32 accessType = 0;
    QString proxy;
    QString bypass;
};

inline bool operator==(const ProxyRecord &a, const ProxyRecord &b)
{
    return a.accessType == b.accessType && a.proxy == b.proxy && a.bypass == b.bypass;
}
inline bool operator!=(const ProxyRecord &a, const ProxyRecord &b)
{
    return !(a == b);
}

// Keeps the user's proxy configuration. The browser engine is given it when
// the program starts; nothing applies a change while the program runs.
class ProxyStore {
public:
    virtual ~ProxyStore() = default;

    // The configuration the proxy dialog starts from: the stored record, or,
    // until one is stored, a stand-in for it (see the implementation). A
    // record that cannot be read comes back as {0, "", ""}, which names no
    // access type and no lists.
    virtual ProxyRecord query() const = 0;

    // The record the reader stored with the proxy dialog, as query() reads it;
    // none until one was stored.
    virtual std::optional<ProxyRecord> storedRecord() const = 0;

    // Stores record as the new configuration. Answers false when it was
    // refused and nothing was stored.
    virtual bool set(const ProxyRecord &record) = 0;
};
