#pragma once

#include "proxystore.h"

#include <QStringList>

#include <optional>

// The Chromium switches that make the browser engine follow a stored proxy
// configuration, handed to the engine when the program starts.
//
// Access type 3 with at least one usable entry gives
//   --proxy-server=<rules>        the entries as Chromium proxy rules, joined
//                                 by ";": "http=", "https=" and "ftp=" entries
//                                 as they stand, "socks=h:p" as
//                                 "socks=socks5://h:p" (Chromium would
//                                 otherwise speak SOCKS 4), an entry without a
//                                 keyword as the proxy for every protocol;
//                                 "gopher=" entries, which Chromium cannot use,
//                                 and entries with any other keyword are left
//                                 out;
//   --proxy-bypass-list=<rules>   the bypass entries joined by ";", when there
//                                 are any; "<local>" means the same to
//                                 Chromium (host names without a dot).
// Chromium also goes direct to localhost and loopback addresses unless the
// bypass list holds "<-loopback>". Chromium reads its bypass rules in order,
// a later rule overriding an earlier one, while the bypass list is a set:
// "<-loopback>" therefore goes first, so that loopback addresses listed
// anywhere in the list still go direct.
// Access type 1 (direct) gives --no-proxy-server: without any switch the engine
// would follow the system's proxy settings. Any other access type, or a proxy
// list without a usable entry, gives no switch.
QStringList chromiumProxySwitches(const ProxyRecord &record);

// The switches the engine starts with: those of the record the reader stored
// with the proxy dialog, and none while nothing is stored, so that the engine
// follows the system's own proxy settings (the environment's proxy variables,
// and what the desktop sets where the system's proxy libraries read it), which
// is how organisations hand their proxies out.
QStringList engineProxySwitches(const std::optional<ProxyRecord> &stored);
