// The page-sending command's addresses: pageAddress and sendPageMail.
//
// Input: how to make the address-bar text (any text, a web address, a path or
// file URL inside the program folder), the program folder, the web base, the
// text.
//
// Properties:
// - a web address ("http://...") is sent as it stands; any other text gives an
//   address that starts with the web base, and a page of the collection gives
//   the web base followed by its path below the program folder;
// - the message is "mailto:?" followed by exactly two fields, the fixed
//   subject and the body, both "name=value" with no "=", "&" or "#" inside the
//   value, in printable ASCII;
// - the body decodes (percent-decoding, then UTF-8) back to the page address.
#include "fuzzsupport.h"

#include "mailaddresses.h"

#include <QDir>
#include <QUrl>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *bytes, size_t size)
{
    FuzzedDataProvider data(bytes, size);
    const int kind = data.ConsumeIntegralInRange(0, 3);
    const QString folder = QDir::cleanPath(QStringLiteral("/") + fuzz::text(data, 24));
    const QString webBase = fuzz::text(data, 32);
    QString below = fuzz::text(data, 64);
    while (below.startsWith(u'/')) {
        below.remove(0, 1);
    }
    QString text;
    switch (kind) {
    case 0:
        text = fuzz::text(data, 128);
        break;
    case 1:
        text = QStringLiteral("http://") + below;
        break;
    case 2:
        text = folder + u'/' + below;
        break;
    default:
        text = QUrl::fromLocalFile(folder + u'/' + below).toString();
        break;
    }

    const QString address = pageAddress(text, webBase, folder);
    if (text.startsWith(QStringLiteral("http://"))) {
        FUZZ_CHECK(address == text, {"text", fuzz::shown(text)}, {"address", fuzz::shown(address)});
    } else {
        FUZZ_CHECK(address.startsWith(webBase), {"text", fuzz::shown(text)},
                   {"address", fuzz::shown(address)});
    }
    const QString cleanBelow = QDir::cleanPath(below);
    if (kind == 2 && folder != QStringLiteral("/") && !below.isEmpty() &&
        !cleanBelow.startsWith(QStringLiteral("..")) && cleanBelow != QStringLiteral(".")) {
        FUZZ_CHECK(address == webBase + cleanBelow, {"folder", fuzz::shown(folder)},
                   {"text", fuzz::shown(text)}, {"address", fuzz::shown(address)});
    }

    const QString mail = sendPageMail(address);
    const QString head = QStringLiteral("mailto:?");
    FUZZ_CHECK(mail.startsWith(head), {"mail", fuzz::shown(mail)});
    for (const QChar c : mail) {
        FUZZ_CHECK(c.unicode() > 0x20 && c.unicode() < 0x7f && c != u'#',
                   {"mail", fuzz::shown(mail)});
    }
    const QStringList fields = mail.mid(head.size()).split(u'&');
    FUZZ_CHECK(fields.size() == 2, {"address", fuzz::shown(address)}, {"mail", fuzz::shown(mail)});
    FUZZ_CHECK(fields[0] == QStringLiteral("subject=Revisar%20el%20siguiente%20documento"),
               {"mail", fuzz::shown(mail)});
    FUZZ_CHECK(fields[1].startsWith(QStringLiteral("body=")) && fields[1].count(u'=') == 1,
               {"mail", fuzz::shown(mail)});
    const QString body =
        QString::fromUtf8(QByteArray::fromPercentEncoding(fields[1].mid(5).toLatin1()));
    FUZZ_CHECK(body == address, {"address", fuzz::shown(address)}, {"mail", fuzz::shown(mail)},
               {"decoded", fuzz::shown(body)});
    return 0;
}
