#pragma once

#include <QByteArrayView>
#include <QString>

// Windows-1252, the code page of Spanish Windows, which settings files and
// older pages are written in. The five bytes the code page leaves undefined
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) keep their Latin-1 value, the C1 control of
// the same number, so no byte is lost.

// The character of one byte.
char16_t windows1252Character(unsigned char byte);

// The text of bytes, one character each.
QString decodeWindows1252(QByteArrayView bytes);
