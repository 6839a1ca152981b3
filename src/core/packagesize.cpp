#include "packagesize.h"

#include <QRegularExpression>

#include <cmath>

namespace PackageSize {

std::optional<qint64> announced(const QString &pageText)
{
    // Thousands grouped with "." and one decimal after ",", as in Spanish.
    static const QRegularExpression figure(QStringLiteral(
        "\\((\\d{1,3}(?:\\.\\d{3})+|\\d{1,13})(?:,(\\d{1,3}))? (bytes|KB|MB|GB)\\)"));
    const QRegularExpressionMatch match = figure.match(pageText);
    if (!match.hasMatch()) {
        return std::nullopt;
    }
    QString whole = match.captured(1);
    whole.remove(u'.');
    const QString decimals = match.captured(2);
    const QString unitName = match.captured(3);
    const double unit = unitName == QLatin1String("bytes") ? 1.0
                        : unitName == QLatin1String("KB")  ? 1024.0
                        : unitName == QLatin1String("MB")  ? 1024.0 * 1024
                                                           : 1024.0 * 1024 * 1024;
    const double value =
        (whole + u'.' + (decimals.isEmpty() ? QStringLiteral("0") : decimals)).toDouble();
    // A figure rounded to its last digit stands for up to half a digit more.
    const double slack =
        unitName == QLatin1String("bytes") ? 0.0 : 0.5 * std::pow(10.0, -decimals.size());
    const double bytes = std::ceil((value + slack) * unit);
    if (!std::isfinite(bytes) || bytes > 9.0e15) {
        return std::nullopt;
    }
    return static_cast<qint64>(bytes);
}

qint64 limit(const std::optional<qint64> &announcedBytes)
{
    return announcedBytes.value_or(unannouncedLimit);
}

} // namespace PackageSize
