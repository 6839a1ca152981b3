#include "proxylists.h"

#include <QStringList>

namespace {

const QString local = QStringLiteral("<local>");

// Removes trailing spaces (the space character alone).
QString trimEndSpaces(QString text)
{
    qsizetype end = text.size();
    while (end > 0 && text.at(end - 1) == u' ') {
        --end;
    }
    text.truncate(end);
    return text;
}

// Removes leading and trailing spaces (the space character alone).
QString trimSpaces(const QString &text)
{
    qsizetype begin = 0;
    while (begin < text.size() && text.at(begin) == u' ') {
        ++begin;
    }
    return trimEndSpaces(text.mid(begin));
}

struct Keyword {
    const char *text;
    ProxyRow ProxyFields::*row;
};

// The order in which reading tries the keywords.
const Keyword readingOrder[] = {
    {"http=", &ProxyFields::http},   {"https=", &ProxyFields::secure},
    {"ftp=", &ProxyFields::ftp},     {"gopher=", &ProxyFields::gopher},
    {"socks=", &ProxyFields::socks},
};

// The order in which applying writes the entries.
const Keyword writingOrder[] = {
    {"socks=", &ProxyFields::socks}, {"https=", &ProxyFields::secure},
    {"http=", &ProxyFields::http},   {"gopher=", &ProxyFields::gopher},
    {"ftp=", &ProxyFields::ftp},
};

void readProxyList(const QString &list, ProxyFields &fields)
{
    for (const QString &entry : list.split(u' ')) {
        for (const Keyword &keyword : readingOrder) {
            const QLatin1String text(keyword.text);
            if (!entry.startsWith(text)) {
                continue;
            }
            ProxyRow &row = fields.*keyword.row;
            const qsizetype colon = entry.indexOf(u':');
            if (colon < 0) {
                // An entry without a colon, such as "http=h", is read as the
                // host "h" with an empty port (our chosen reading).
                row.host = entry.mid(text.size());
                row.port.clear();
            } else {
                row.host = entry.mid(text.size(), colon - text.size());
                row.port = entry.mid(colon + 1);
            }
            break;
        }
    }
}

void readBypassList(const QString &list, ProxyFields &fields)
{
    const qsizetype space = list.indexOf(u' ');
    const QString rest = space < 0 ? list : list.mid(space + 1);
    if (rest.isEmpty()) {
        return;
    }
    QString exceptions;
    for (const QString &entry : rest.split(u' ')) {
        if (entry == local) {
            fields.bypassLocal = true;
        } else {
            exceptions += entry + u';';
        }
    }
    if (!exceptions.isEmpty()) {
        exceptions.chop(1);
        fields.exceptions = exceptions;
    }
}

} // namespace

bool operator==(const ProxyRow &a, const ProxyRow &b)
{
    return a.host == b.host && a.port == b.port;
}

bool operator==(const ProxyFields &a, const ProxyFields &b)
{
    return a.useProxy == b.useProxy && a.bypassLocal == b.bypassLocal &&
           a.exceptions == b.exceptions && a.http == b.http && a.secure == b.secure &&
           a.ftp == b.ftp && a.gopher == b.gopher && a.socks == b.socks;
}

QString buildBypassList(const ProxyFields &fields)
{
    QString list;
    if (!fields.exceptions.isEmpty()) {
        list += QString(fields.exceptions).replace(u';', u' ');
    }
    if (fields.bypassLocal) {
        list += u' ' + local;
    }
    return trimSpaces(list);
}

QString buildProxyList(const ProxyFields &fields)
{
    QStringList entries;
    for (const Keyword &keyword : writingOrder) {
        const ProxyRow &row = fields.*keyword.row;
        if (!row.port.isEmpty() && !row.host.isEmpty()) {
            entries.append(QLatin1String(keyword.text) + row.host + u':' + row.port);
        }
    }
    return trimEndSpaces(entries.join(u' '));
}

ProxyRecord buildProxyRecord(const ProxyFields &fields)
{
    return {fields.useProxy ? ProxyAccess::Proxy : ProxyAccess::Direct, buildProxyList(fields),
            buildBypassList(fields)};
}

ProxyFields readProxyRecord(const ProxyFields &current, const ProxyRecord &record)
{
    ProxyFields fields = current;
    if (record.accessType == ProxyAccess::Proxy) {
        fields.useProxy = true;
    }
    if (!record.proxy.isEmpty()) {
        readProxyList(record.proxy, fields);
    }
    if (!record.bypass.isEmpty()) {
        readBypassList(record.bypass, fields);
    }
    return fields;
}
