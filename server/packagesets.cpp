#include "packagesets.h"

#include "circularcatalog.h"

#include <QByteArray>

#include <algorithm>

namespace {

constexpr auto base64Url = QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals;

} // namespace

namespace PackageSets {

namespace {

// The most circulars one code may stand for: a bound on what decoding a code may cost.
constexpr quint64 maxIdentifiers = 1000000;
constexpr quint64 maxNumber = 999999999999999999ULL;

void appendNumber(QByteArray *bytes, quint64 value)
{
    do {
        const char digit = char(value & 0x7f);
        value >>= 7;
        bytes->append(value ? char(digit | 0x80) : digit);
    } while (value);
}

bool takeNumber(const QByteArray &bytes, qsizetype *at, quint64 *value)
{
    *value = 0;
    for (int shift = 0; *at < bytes.size() && shift <= 56; shift += 7) {
        const uchar byte = uchar(bytes.at((*at)++));
        *value |= quint64(byte & 0x7f) << shift;
        if (!(byte & 0x80))
            return true;
    }
    return false;
}

} // namespace

bool plainNumber(QStringView identifier, quint64 *value)
{
    if (identifier.isEmpty() || identifier.size() > 18 ||
        (identifier.size() > 1 && identifier.front() == u'0'))
        return false;
    quint64 number = 0;
    for (const QChar c : identifier) {
        if (c < u'0' || c > u'9')
            return false;
        number = number * 10 + quint64(c.unicode() - u'0');
    }
    *value = number;
    return true;
}

QString encode(const QStringList &identifiers)
{
    quint64 number = 0;
    const auto isNumber = [&number](const QString &identifier) {
        return plainNumber(identifier, &number);
    };
    if (!identifiers.isEmpty() && std::all_of(identifiers.cbegin(), identifiers.cend(), isNumber)) {
        // Numbers, as runs of consecutive ones: the gap since the end of the previous run,
        // then the run's length less one, each in base-128 digits. A whole collection
        // asked for at once is a handful of bytes.
        QByteArray bytes;
        quint64 next = 0; // the number after the previous run
        qsizetype i = 0;
        while (i < identifiers.size()) {
            const quint64 start = identifiers.at(i).toULongLong();
            quint64 length = 1;
            while (i + qsizetype(length) < identifiers.size() &&
                   identifiers.at(i + qsizetype(length)).toULongLong() == start + length)
                ++length;
            appendNumber(&bytes, start - next);
            appendNumber(&bytes, length - 1);
            next = start + length;
            i += qsizetype(length);
        }
        return QLatin1Char('n') + QString::fromLatin1(bytes.toBase64(base64Url));
    }
    return QLatin1Char('t') +
           QString::fromLatin1(identifiers.join(u',').toUtf8().toBase64(base64Url));
}

bool decode(const QString &code, qsizetype most, QStringList *identifiers)
{
    identifiers->clear();
    const quint64 limit = qMin<quint64>(maxIdentifiers, quint64(qMax<qsizetype>(0, most)));
    if (code.size() < 2)
        return false;
    const auto decoded = QByteArray::fromBase64Encoding(
        code.mid(1).toLatin1(), base64Url | QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return false;
    const QByteArray &bytes = decoded.decoded;
    if (code.at(0) == u'n') {
        quint64 next = 0;
        qsizetype at = 0;
        while (at < bytes.size()) {
            quint64 gap = 0;
            quint64 extra = 0;
            if (!takeNumber(bytes, &at, &gap) || !takeNumber(bytes, &at, &extra))
                return false;
            if (gap > maxNumber - next || extra >= limit ||
                quint64(identifiers->size()) + extra + 1 > limit ||
                extra > maxNumber - (next + gap))
                return false;
            const quint64 start = next + gap;
            for (quint64 k = 0; k <= extra; ++k)
                identifiers->append(QString::number(start + k));
            next = start + extra + 1;
        }
    } else if (code.at(0) == u't') {
        const QString text = QString::fromUtf8(bytes);
        if (text.toUtf8() != bytes)
            return false;
        *identifiers = text.split(u',');
        if (quint64(identifiers->size()) > limit)
            return false;
        for (const QString &identifier : std::as_const(*identifiers)) {
            if (!CircularCatalog::isValidIdentifier(identifier))
                return false;
        }
        for (qsizetype i = 1; i < identifiers->size(); ++i) {
            if (!CircularCatalog::naturalLess(identifiers->at(i - 1), identifiers->at(i)))
                return false;
        }
    } else {
        return false;
    }
    // One set, one code: anything else was not made here.
    return !identifiers->isEmpty() && encode(*identifiers) == code;
}

} // namespace PackageSets
