#pragma once
#include <QByteArray>
#include <QString>

namespace runtime {

// Windows-1252, the 8-bit code page of the data files. Every byte value
// survives fromAnsi() then toAnsi(): the five bytes the code page leaves
// undefined (81 8D 8F 90 9D) map to the control characters of the same code.
QString fromAnsi(QByteArrayView bytes);

// A character the code page lacks becomes '?' (one per character, so a
// surrogate pair gives a single '?').
QByteArray toAnsi(QStringView text);

// The same into dst, which has room for text.size() bytes; returns how many
// it wrote.
qsizetype toAnsi(QStringView text, char *dst);

} // namespace runtime
