#pragma once

#include "proxystore.h"

#include <QProcessEnvironment>
#include <QString>

// The proxy configuration of the user, kept as a small JSON file
// ({"accessType": 3, "proxy": "...", "bypass": "..."}) that is replaced
// atomically on every store. Until something has been stored, query() answers
// with what the proxy variables of the environment describe
// (proxyRecordFromEnvironment), for the dialog to start from. A file that
// exists but cannot be read or understood, or is not a regular file, reads as
// {0, "", ""}.
class FileProxyStore final : public ProxyStore {
public:
    FileProxyStore(const QString &path, const QProcessEnvironment &environment);

    ProxyRecord query() const override;
    std::optional<ProxyRecord> storedRecord() const override;
    // Refused when the folder cannot be created or the file cannot be written
    // whole; the file stored before is then left as it was.
    bool set(const ProxyRecord &record) override;

    QString path() const { return m_path; }

    // "proxy.json" in the program's per-user configuration folder. The
    // application and organisation names must be set before asking.
    static QString defaultPath();

private:
    QString m_path;
    QProcessEnvironment m_environment;
};

// The record that the usual proxy variables describe, in the list formats of
// ProxyRecord:
// - http_proxy, https_proxy and ftp_proxy give the "http=", "https=" and
//   "ftp=" entries. The scheme, any user name and password, and any path are
//   dropped, so each entry is host:port; a missing port is the default of the
//   scheme (80 for http or none, 1080 for socks).
// - all_proxy is the proxy for every protocol without a variable of its own.
//   With a socks scheme (socks://, socks4://, socks4a://, socks5://,
//   socks5h://) it becomes the "socks=" entry, which the list format already
//   means as the proxy for every other protocol; with an http scheme or none,
//   it fills the "http=", "https=" and "ftp=" entries that are still missing,
//   since the dialog shows only entries with a keyword.
// - A SOCKS proxy for one protocol only, a proxy reached over TLS (https://)
//   and any other scheme have no place in the list format and are left out.
// - no_proxy gives the bypass list: its entries (separated by commas or
//   blanks) in order, with a leading-dot domain ".example.org" written as the
//   pattern "*.example.org".
// The lower-case names are looked up first, then the upper-case ones, except
// HTTP_PROXY, which a CGI program can inherit from a request header and which
// is therefore not trusted. The access type is 3 when at least one entry was
// found, else 1; entries come in the order Socks, Secure, HTTP, FTP.
ProxyRecord proxyRecordFromEnvironment(const QProcessEnvironment &environment);
