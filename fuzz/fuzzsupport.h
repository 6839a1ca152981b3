#pragma once

// What every fuzz target shares: texts drawn from the fuzzer's bytes, and a
// check that reports the texts involved before it aborts (libFuzzer then saves
// the input that failed).

#include <QString>
#include <QStringList>

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <utility>

namespace fuzz {

// A text of at most maxBytes bytes, decoded as UTF-8. Invalid sequences become
// U+FFFD, so the text is always well-formed UTF-16, as every text that comes
// from a file, a widget or the network is.
inline QString text(FuzzedDataProvider &data, std::size_t maxBytes)
{
    const std::string bytes = data.ConsumeRandomLengthString(maxBytes);
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// A text whose characters are any UTF-16 code units, lone surrogates included:
// for functions that must merely cope.
inline QString rawText(FuzzedDataProvider &data, std::size_t maxUnits)
{
    const std::string bytes = data.ConsumeRandomLengthString(maxUnits * 2);
    QString result;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        result += QChar(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                              static_cast<unsigned char>(bytes[i + 1]) << 8));
    }
    return result;
}

// The text with every character outside printable ASCII written as \uXXXX.
inline std::string shown(const QString &text)
{
    std::string result = "\"";
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u >= 0x20 && u < 0x7f && u != u'"' && u != u'\\') {
            result += static_cast<char>(u);
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(u));
            result += escape;
        }
    }
    return result + "\"";
}

inline std::string shown(const QStringList &list)
{
    std::string result = "[";
    for (const QString &item : list) {
        result += (result.size() > 1 ? ", " : "") + shown(item);
    }
    return result + "]";
}

using Shown = std::pair<const char *, std::string>;

[[noreturn]] inline void fail(const char *condition, const char *file, int line,
                              std::initializer_list<Shown> values)
{
    std::fprintf(stderr, "\n%s:%d: check failed: %s\n", file, line, condition);
    for (const Shown &value : values) {
        std::fprintf(stderr, "  %s = %s\n", value.first, value.second.c_str());
    }
    std::abort();
}

} // namespace fuzz

// FUZZ_CHECK(condition, {"name", fuzz::shown(text)}, ...)
#define FUZZ_CHECK(condition, ...)                                                                 \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            fuzz::fail(#condition, __FILE__, __LINE__, {__VA_ARGS__});                             \
        }                                                                                          \
    } while (false)
