#pragma once

#include "proxystore.h"

#include <QString>

// The proxy dialog's fields and the two texts that carry them, the proxy list
// and the bypass list (formats in proxystore.h). Plain text processing: hosts
// and ports are taken exactly as they stand, never trimmed, checked or turned
// into numbers.

// Host and port of one protocol row.
struct ProxyRow {
    QString host;
    QString port;
};

// Everything of the dialog that is stored or read back.
struct ProxyFields {
    bool useProxy = false;    // "Utilizar un proxy server"
    bool bypassLocal = false; // "No utilizar el proxy server para direcciones locales"
    QString exceptions;       // entries separated by ";"
    ProxyRow http;
    ProxyRow secure;
    ProxyRow ftp;
    ProxyRow gopher;
    ProxyRow socks;
};

bool operator==(const ProxyRow &a, const ProxyRow &b);
bool operator==(const ProxyFields &a, const ProxyFields &b);

// The bypass list: the exceptions with every ";" made a space, then
// " <local>" when local addresses bypass the proxy, without leading or
// trailing spaces.
QString buildBypassList(const ProxyFields &fields);

// The proxy list: an entry keyword + host + ":" + port for each row with both
// a host and a port, in the order Socks, Secure, HTTP, Gopher, FTP, joined by
// single spaces, without trailing spaces.
QString buildProxyList(const ProxyFields &fields);

// The record to store: access type 3 when the proxy is to be used, else 1,
// with both lists built in either case.
ProxyRecord buildProxyRecord(const ProxyFields &fields);

// current updated by what record says; nothing that record does not mention
// changes.
// - Access type 3 checks useProxy; any other value leaves it.
// - Each entry of the proxy list (split at every single space) is matched,
//   case-sensitively, against "http=", "https=", "ftp=", "gopher=" and
//   "socks=" in that order; the host runs from the keyword to the first ":",
//   the port is everything after that ":". Later entries for a row win, and
//   entries without a known keyword are skipped.
// - The bypass list loses its text up to and including its first space; of
//   the rest (split at every single space), "<local>" checks bypassLocal and
//   every other entry, empty ones included, goes into the exceptions, joined
//   by ";". When there is no such entry the exceptions keep their text.
ProxyFields readProxyRecord(const ProxyFields &current, const ProxyRecord &record);
