#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>
#include <optional>

// The rules of the INI-style settings file, applied to the file's bytes.
// Nothing here touches the disk; IniProfileFile does the reading and writing.
//
// Encoding: a file that starts with a UTF-16 byte-order mark (what Notepad
// saves as "Unicode") is UTF-16 of that byte order throughout, and is written
// back the same way. Any other file is decided line by line: a line that is
// valid UTF-8 is UTF-8, any other line is Windows-1252, the code page such
// files were written in. A leading UTF-8 byte-order mark is skipped and kept.
//
// The file is a sequence of lines, split at LF with one trailing CR dropped.
// A line whose text, trimmed of blanks (spaces and tabs), begins with '[' and
// holds a ']' opens a section named by the text between them, trimmed. Any
// other line with an '=' holds a key (the trimmed text before the first '=')
// and its value (the trimmed text after it); so does a line that begins with
// '[' but never closes it, which therefore opens no section. There is no
// comment syntax: ";name=x" is the key ";name". Names are compared without
// regard to case after trimming. Only the first section of a name counts, and
// within it only the first key of a name.

// The value of key in section, or nothing when the section or the key is
// missing. A value of two or more characters enclosed in a matching pair of
// double or single quotes comes back without them. One pass over the bytes;
// only the lines that hold names outside ASCII are decoded to compare them.
std::optional<QString> profileValue(QByteArrayView file, const QString &section,
                                    const QString &key);

// The file after storing value under section/key. An existing key has its
// line replaced in place, keeping the key's spelling; a new key goes after the
// last non-blank line of its section; a missing section is added at the end.
// Leading blanks of the value are dropped, and a CR or LF in a name or the
// value is written as a space. Every other line is kept byte for byte, as is
// the file's line-ending style; the lines written are UTF-8 (or UTF-16 in a
// UTF-16 file).
QByteArray withProfileValue(const QByteArray &file, const QString &section, const QString &key,
                            const QString &value);

// The file with only the entries that keep(section, key) accepts. A section
// of which keep accepts nothing (asked with an empty key) goes as a whole, and
// so does anything before the first section; a section that stays keeps its
// header and its lines without a key.
QByteArray
keepProfileEntries(const QByteArray &file,
                   const std::function<bool(const QString &section, const QString &key)> &keep);

// The text of a settings file from its bytes, by the encoding rules above,
// without any byte-order mark.
QString decodeProfileBytes(const QByteArray &bytes);
