#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The rules of the INI-style settings file, applied to the file's decoded text.
// Nothing here touches the disk; IniProfileFile does the reading and writing.
//
// The file is a sequence of lines, split at LF with one trailing CR dropped.
// A line whose text, trimmed of blanks (spaces and tabs), begins with '[' opens
// a section named by the text up to the first ']', trimmed. Any other line with
// an '=' holds a key (the trimmed text before the first '=') and its value (the
// trimmed text after it). There is no comment syntax: ";name=x" is the key
// ";name". Names are compared without regard to case after trimming. Only the
// first section of a name counts, and within it only the first key of a name.

// The value of key in section, or nothing when the section or the key is
// missing. A value of two or more characters enclosed in a matching pair of
// double or single quotes comes back without them.
std::optional<QString> readProfileValue(const QString &text, const QString &section,
                                        const QString &key);

// The text of the file after storing value under section/key. An existing key
// has its line replaced in place, keeping the key's spelling; a new key goes
// after the last non-blank line of its section; a missing section is added at
// the end. Leading blanks of the value are dropped. Every other line, and the
// file's line-ending style, is kept as it was.
QString writeProfileValue(const QString &text, const QString &section, const QString &key,
                          const QString &value);

// The text of a settings file from its bytes: UTF-8 when the bytes are valid
// UTF-8, otherwise Windows-1252, the code page such files were written in. A
// leading UTF-8 byte-order mark is dropped in either case.
QString decodeProfileBytes(const QByteArray &bytes);
