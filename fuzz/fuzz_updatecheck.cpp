// The update check: splitting the server's list, comparing it with the local
// circulars, and the request for the missing ones.
//
// Input: the server's comma-separated list, a few local names (some of them
// server identifiers with spaces added, so that matches happen), the address
// prefix.
//
// Properties:
// - splitting gives count(",") + 1 identifiers (none for an empty text) that
//   join back into the text;
// - trimSpaces removes exactly the leading and trailing U+0020;
// - missingCirculars equals a plain double loop over both lists with the same
//   meaning (an identifier is missing when no local name equals it once both
//   are trimmed of spaces), and FindInList agrees with it;
// - the request address is the prefix, "archivoValores.asp?Numeros=" and a
//   query holding only printable ASCII without "&", "#", "+" or a space, whose
//   parts between commas decode back into the identifiers.
#include "fuzzsupport.h"

#include "updatecheck.h"

namespace {

QString plainTrim(const QString &text)
{
    QString result = text;
    while (!result.isEmpty() && result.front() == u' ') {
        result.remove(0, 1);
    }
    while (!result.isEmpty() && result.back() == u' ') {
        result.chop(1);
    }
    return result;
}

QStringList plainMissing(const QStringList &server, const QStringList &local)
{
    QStringList missing;
    for (const QString &identifier : server) {
        bool found = false;
        for (const QString &name : local) {
            if (plainTrim(name) == plainTrim(identifier)) {
                found = true;
                break;
            }
        }
        if (!found) {
            missing.append(identifier);
        }
    }
    return missing;
}

void checkRequest(const QString &prefix, const QStringList &identifiers)
{
    const QString address = requestAddress(prefix, identifiers);
    const QString head = prefix + QStringLiteral("archivoValores.asp?Numeros=");
    FUZZ_CHECK(address.startsWith(head), {"address", fuzz::shown(address)});
    const QString query = address.mid(head.size());
    for (const QChar c : query) {
        FUZZ_CHECK(c.unicode() > 0x20 && c.unicode() < 0x7f && c != u'&' && c != u'#' && c != u'+',
                   {"identifiers", fuzz::shown(identifiers)}, {"query", fuzz::shown(query)});
    }
    // No list and a list of one empty identifier both give an empty query.
    if (identifiers.isEmpty() || identifiers == QStringList{QString()}) {
        FUZZ_CHECK(query.isEmpty(), {"query", fuzz::shown(query)});
        return;
    }
    QStringList decoded;
    for (const QString &part : query.split(u',')) {
        decoded.append(QString::fromUtf8(QByteArray::fromPercentEncoding(part.toLatin1())));
    }
    FUZZ_CHECK(decoded == identifiers, {"identifiers", fuzz::shown(identifiers)},
               {"query", fuzz::shown(query)}, {"decoded", fuzz::shown(decoded)});
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    FuzzedDataProvider data(bytes, size);
    const QString prefix = fuzz::text(data, 32);
    const QString serverText = fuzz::text(data, 512);

    const QStringList server = splitServerList(serverText);
    if (serverText.isEmpty()) {
        FUZZ_CHECK(server.isEmpty(), {"server", fuzz::shown(server)});
    } else {
        FUZZ_CHECK(server.size() == serverText.count(u',') + 1 && server.join(u',') == serverText,
                   {"text", fuzz::shown(serverText)}, {"split", fuzz::shown(server)});
    }

    QStringList local;
    const int localCount = data.ConsumeIntegralInRange(0, 24);
    for (int i = 0; i < localCount && data.remaining_bytes() > 0; ++i) {
        if (!server.isEmpty() && data.ConsumeBool()) {
            const QString spaces(data.ConsumeIntegralInRange(0, 2), u' ');
            const QString name =
                server[data.ConsumeIntegralInRange<qsizetype>(0, server.size() - 1)];
            local.append(data.ConsumeBool() ? spaces + name : name + spaces);
        } else {
            local.append(fuzz::text(data, 12));
        }
    }

    for (const QString &name : local) {
        FUZZ_CHECK(trimSpaces(name) == plainTrim(name), {"name", fuzz::shown(name)},
                   {"trimmed", fuzz::shown(trimSpaces(name))});
    }
    const QStringList missing = missingCirculars(server, local);
    const QStringList expected = plainMissing(server, local);
    FUZZ_CHECK(missing == expected, {"server", fuzz::shown(server)}, {"local", fuzz::shown(local)},
               {"missing", fuzz::shown(missing)}, {"expected", fuzz::shown(expected)});
    const QSet<QString> names = localNameSet(local);
    for (const QString &identifier : server) {
        FUZZ_CHECK(FindInList(identifier, names) == !expected.contains(identifier),
                   {"identifier", fuzz::shown(identifier)}, {"local", fuzz::shown(local)});
    }

    checkRequest(prefix, missing);
    return 0;
}
