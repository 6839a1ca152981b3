#pragma once

#include <QString>

#include <optional>

// The size of an update package as the answer page offering it announces it,
// and so the most its download may bring.
namespace PackageSize {

// The most a download may bring when its page announces no size.
constexpr qint64 unannouncedLimit = qint64(2) << 30;

// The size announced in the text of an answer page, written as the update
// server writes it: "(512 bytes)", "(12,5 KB)", "(1.234,5 MB)", the first
// such figure in the text. Rounded up to the most the figure can stand for
// (the server rounds to one decimal). None when the text announces no size.
std::optional<qint64> announced(const QString &pageText);

// The most a download may bring: the announced size, or unannouncedLimit.
qint64 limit(const std::optional<qint64> &announcedBytes);

} // namespace PackageSize
