// The proxy lists: building the proxy and bypass lists from the dialog's
// fields, reading a stored record back into the fields, and the browser
// engine's switches made from a record.
//
// Input: the fields in the dialog, the fields to apply, and a stored record.
//
// Properties:
// - building and reading cope with any text;
// - both lists are built, and any record is read, as a plain transcription of
//   the rules in proxylists.h (written again below, character by character)
//   says;
// - apply then read: reading the record built from fields F into fields C
//   gives
//     useProxy     F.useProxy or C.useProxy (access type 1 leaves it);
//     each row     F's row when it has both a host and a port, otherwise C's;
//     bypassLocal  F.bypassLocal or C.bypassLocal;
//     exceptions   F's exceptions without the first one when F has more than
//                  one exception, or one exception and bypassLocal (the bypass
//                  list loses its first entry); F's exception when it is the
//                  whole list; otherwise C's.
//   for every F whose hosts hold no space and no ":", whose ports hold no
//   space, and whose exceptions are non-empty, hold no space, and are not
//   "<local>";
// - the engine's switches, as the rules in chromiumproxy.h say: none while
//   nothing is stored, so that the engine follows the system's settings; for
//   a stored record with access type 1, --no-proxy-server alone; none unless
//   the access type is 3 and the list has a usable entry; otherwise the
//   proxy-server switch (socks entries as SOCKS 5, "gopher=" and unknown
//   keywords left out) and, when the bypass list has entries, the bypass
//   switch with "<-loopback>" first; and the value of
//   QTWEBENGINE_CHROMIUM_FLAGS with the switches added splits, the way the
//   engine splits it, into the old flags' words followed by the switches.
#include "fuzzsupport.h"

#include "chromiumproxy.h"
#include "enginearguments.h"
#include "proxylists.h"

namespace {

ProxyRow row(FuzzedDataProvider &data)
{
    ProxyRow result;
    result.host = fuzz::text(data, 16);
    result.port = fuzz::text(data, 8);
    return result;
}

ProxyFields fields(FuzzedDataProvider &data)
{
    ProxyFields result;
    result.useProxy = data.ConsumeBool();
    result.bypassLocal = data.ConsumeBool();
    result.exceptions = fuzz::text(data, 48);
    result.http = row(data);
    result.secure = row(data);
    result.ftp = row(data);
    result.gopher = row(data);
    result.socks = row(data);
    return result;
}

std::string shown(const ProxyFields &f)
{
    auto rowText = [](const ProxyRow &r) {
        return fuzz::shown(r.host) + ":" + fuzz::shown(r.port);
    };
    return std::string("useProxy=") + (f.useProxy ? "1" : "0") +
           " bypassLocal=" + (f.bypassLocal ? "1" : "0") +
           " exceptions=" + fuzz::shown(f.exceptions) + " http=" + rowText(f.http) +
           " secure=" + rowText(f.secure) + " ftp=" + rowText(f.ftp) +
           " gopher=" + rowText(f.gopher) + " socks=" + rowText(f.socks);
}

// --- The rules, transcribed -----------------------------------------------------------------

// The pieces of text between single spaces (empty ones included).
QStringList piecesBetween(const QString &text, QChar separator)
{
    QStringList pieces{QString()};
    for (const QChar c : text) {
        if (c == separator) {
            pieces.append(QString());
        } else {
            pieces.last() += c;
        }
    }
    return pieces;
}

QString withoutOuterSpaces(QString text)
{
    while (text.startsWith(u' ')) {
        text.remove(0, 1);
    }
    while (text.endsWith(u' ')) {
        text.chop(1);
    }
    return text;
}

QString ruleBypassList(const ProxyFields &f)
{
    QString list;
    for (const QChar c : f.exceptions) {
        list += c == u';' ? QChar(u' ') : c;
    }
    if (f.bypassLocal) {
        list += QStringLiteral(" <local>");
    }
    return withoutOuterSpaces(list);
}

QString ruleProxyList(const ProxyFields &f)
{
    const std::pair<const char *, const ProxyRow *> order[] = {{"socks=", &f.socks},
                                                               {"https=", &f.secure},
                                                               {"http=", &f.http},
                                                               {"gopher=", &f.gopher},
                                                               {"ftp=", &f.ftp}};
    QString list;
    for (const auto &[keyword, r] : order) {
        if (!r->host.isEmpty() && !r->port.isEmpty()) {
            if (!list.isEmpty()) {
                list += u' ';
            }
            list += QLatin1String(keyword) + r->host + u':' + r->port;
        }
    }
    while (list.endsWith(u' ')) {
        list.chop(1);
    }
    return list;
}

ProxyFields ruleRead(const ProxyFields &current, const ProxyRecord &record)
{
    ProxyFields f = current;
    if (record.accessType == 3) {
        f.useProxy = true;
    }
    if (!record.proxy.isEmpty()) {
        const std::pair<const char *, ProxyRow *> order[] = {{"http=", &f.http},
                                                             {"https=", &f.secure},
                                                             {"ftp=", &f.ftp},
                                                             {"gopher=", &f.gopher},
                                                             {"socks=", &f.socks}};
        for (const QString &entry : piecesBetween(record.proxy, u' ')) {
            for (const auto &[keyword, r] : order) {
                const QString word = QLatin1String(keyword);
                if (entry.left(word.size()) != word) {
                    continue;
                }
                const QString rest = entry.mid(word.size());
                const qsizetype colon = rest.indexOf(u':');
                r->host = colon < 0 ? rest : rest.left(colon);
                r->port = colon < 0 ? QString() : rest.mid(colon + 1);
                break;
            }
        }
    }
    if (!record.bypass.isEmpty()) {
        const qsizetype space = record.bypass.indexOf(u' ');
        const QString rest = space < 0 ? record.bypass : record.bypass.mid(space + 1);
        if (!rest.isEmpty()) {
            QStringList others;
            for (const QString &entry : piecesBetween(rest, u' ')) {
                if (entry == QLatin1String("<local>")) {
                    f.bypassLocal = true;
                } else {
                    others.append(entry);
                }
            }
            if (!others.isEmpty()) {
                f.exceptions = others.join(u';');
            }
        }
    }
    return f;
}

// The words of QTWEBENGINE_CHROMIUM_FLAGS as the engine reads them: split at
// spaces outside double quotes, the quotes dropped.
QStringList engineWords(const QString &flags)
{
    QStringList words;
    QString word;
    bool quoted = false;
    bool inWord = false;
    for (const QChar c : flags) {
        if (c == u'"') {
            quoted = !quoted;
            inWord = true;
        } else if (c == u' ' && !quoted) {
            if (inWord && !word.isEmpty()) {
                words.append(word);
            }
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (!word.isEmpty()) {
        words.append(word);
    }
    return words;
}

// --- Checks ---------------------------------------------------------------------------------

bool roundTrips(const ProxyFields &f)
{
    for (const ProxyRow *r : {&f.http, &f.secure, &f.ftp, &f.gopher, &f.socks}) {
        if (r->host.contains(u' ') || r->host.contains(u':') || r->port.contains(u' ')) {
            return false;
        }
    }
    for (const QString &exception : f.exceptions.split(u';')) {
        if (!f.exceptions.isEmpty() && (exception.isEmpty() || exception.contains(u' ') ||
                                        exception == QLatin1String("<local>"))) {
            return false;
        }
    }
    return true;
}

void checkApplyThenRead(const ProxyFields &current, const ProxyFields &applied)
{
    const ProxyRecord record = buildProxyRecord(applied);
    const ProxyFields read = readProxyRecord(current, record);
    FUZZ_CHECK(record.accessType == (applied.useProxy ? 3u : 1u), {"applied", shown(applied)});

    ProxyFields expected = current;
    expected.useProxy = current.useProxy || applied.useProxy;
    expected.bypassLocal = current.bypassLocal || applied.bypassLocal;
    const std::pair<const ProxyRow *, ProxyRow *> rows[] = {{&applied.http, &expected.http},
                                                            {&applied.secure, &expected.secure},
                                                            {&applied.ftp, &expected.ftp},
                                                            {&applied.gopher, &expected.gopher},
                                                            {&applied.socks, &expected.socks}};
    for (const auto &[from, to] : rows) {
        if (!from->host.isEmpty() && !from->port.isEmpty()) {
            *to = *from;
        }
    }
    const QStringList exceptions =
        applied.exceptions.isEmpty() ? QStringList() : applied.exceptions.split(u';');
    if (exceptions.size() > 1 || (exceptions.size() == 1 && applied.bypassLocal)) {
        if (exceptions.size() > 1) {
            expected.exceptions = exceptions.mid(1).join(u';');
        }
    } else if (exceptions.size() == 1) {
        expected.exceptions = exceptions.first();
    }
    FUZZ_CHECK(read == expected, {"current", shown(current)}, {"applied", shown(applied)},
               {"proxy list", fuzz::shown(record.proxy)},
               {"bypass list", fuzz::shown(record.bypass)}, {"read", shown(read)},
               {"expected", shown(expected)});
}

void checkEngineSwitches(const ProxyRecord &record, const QString &flags)
{
    // What the engine starts with once the reader has stored record.
    const QStringList switches = engineProxySwitches(record);
    if (record.accessType == 1) {
        // A stored direct connection keeps the engine off the environment's proxy.
        FUZZ_CHECK(switches == QStringList{QStringLiteral("--no-proxy-server")},
                   {"switches", fuzz::shown(switches)});
        return;
    }
    if (record.accessType != 3) {
        FUZZ_CHECK(switches.isEmpty(), {"switches", fuzz::shown(switches)});
        return;
    }
    if (switches.isEmpty()) {
        // Only a list without a usable entry gives no switch.
        for (const QString &entry : piecesBetween(record.proxy, u' ')) {
            FUZZ_CHECK(entry.isEmpty() ||
                           (entry.contains(u'=') && !entry.startsWith(QStringLiteral("http=")) &&
                            !entry.startsWith(QStringLiteral("https=")) &&
                            !entry.startsWith(QStringLiteral("ftp=")) &&
                            !entry.startsWith(QStringLiteral("socks="))),
                       {"proxy list", fuzz::shown(record.proxy)});
        }
        return;
    }
    // The proxy rules: socks entries made SOCKS 5, http, https and ftp entries
    // and entries without a keyword as they stand, all others left out.
    QStringList rules;
    for (const QString &entry : piecesBetween(record.proxy, u' ')) {
        const QString socks = QStringLiteral("socks=");
        if (entry.isEmpty()) {
            continue;
        } else if (entry.left(socks.size()) == socks) {
            const QString server = entry.mid(socks.size());
            rules.append(socks + (server.contains(QStringLiteral("://"))
                                      ? server
                                      : QStringLiteral("socks5://") + server));
        } else if (entry.startsWith(QStringLiteral("http=")) ||
                   entry.startsWith(QStringLiteral("https=")) ||
                   entry.startsWith(QStringLiteral("ftp=")) || !entry.contains(u'=')) {
            rules.append(entry);
        }
    }
    FUZZ_CHECK(switches[0] == QStringLiteral("--proxy-server=") + rules.join(u';'),
               {"proxy list", fuzz::shown(record.proxy)}, {"switches", fuzz::shown(switches)});
    // The bypass rules: the entries, "<-loopback>" first.
    QStringList bypass;
    const QString loopback = QStringLiteral("<-loopback>");
    for (const QString &entry : piecesBetween(record.bypass, u' ')) {
        if (entry == loopback) {
            bypass.prepend(entry);
        }
    }
    for (const QString &entry : piecesBetween(record.bypass, u' ')) {
        if (!entry.isEmpty() && entry != loopback) {
            bypass.append(entry);
        }
    }
    if (bypass.isEmpty()) {
        FUZZ_CHECK(switches.size() == 1, {"bypass list", fuzz::shown(record.bypass)},
                   {"switches", fuzz::shown(switches)});
    } else {
        FUZZ_CHECK(switches.size() == 2 &&
                       switches[1] == QStringLiteral("--proxy-bypass-list=") + bypass.join(u';'),
                   {"bypass list", fuzz::shown(record.bypass)},
                   {"switches", fuzz::shown(switches)});
    }

    // Only flags whose quotes pair up: an open quote would swallow the switches.
    if (flags.count(u'"') % 2 == 0) {
        const QString value = engineFlagsWithSwitches(flags, switches);
        QStringList expected = engineWords(flags);
        for (QString item : switches) {
            expected.append(item.remove(u'"'));
        }
        FUZZ_CHECK(engineWords(value) == expected, {"flags", fuzz::shown(flags)},
                   {"switches", fuzz::shown(switches)}, {"value", fuzz::shown(value)});
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    FuzzedDataProvider data(bytes, size);
    const ProxyFields current = fields(data);
    const ProxyFields applied = fields(data);
    ProxyRecord record;
    record.accessType = data.ConsumeBool() ? 3 : data.ConsumeIntegral<quint32>();
    record.proxy = fuzz::text(data, 96);
    record.bypass = fuzz::text(data, 96);
    const QString flags = fuzz::text(data, 48);

    // Any record read into any fields, and any fields built into lists, as the rules say.
    const ProxyFields read = readProxyRecord(current, record);
    const ProxyFields ruled = ruleRead(current, record);
    FUZZ_CHECK(read == ruled, {"current", shown(current)},
               {"proxy list", fuzz::shown(record.proxy)},
               {"bypass list", fuzz::shown(record.bypass)}, {"read", shown(read)},
               {"rules", shown(ruled)});
    FUZZ_CHECK(buildProxyList(applied) == ruleProxyList(applied), {"fields", shown(applied)},
               {"built", fuzz::shown(buildProxyList(applied))});
    FUZZ_CHECK(buildBypassList(applied) == ruleBypassList(applied), {"fields", shown(applied)},
               {"built", fuzz::shown(buildBypassList(applied))});

    if (roundTrips(applied)) {
        checkApplyThenRead(current, applied);
    }
    // Nothing stored: the engine follows the system.
    FUZZ_CHECK(engineProxySwitches(std::nullopt).isEmpty(),
               {"switches", fuzz::shown(engineProxySwitches(std::nullopt))});
    checkEngineSwitches(record, flags);
    checkEngineSwitches(buildProxyRecord(applied), flags);
    return 0;
}
