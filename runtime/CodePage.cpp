#include "runtime/CodePage.h"

#include <array>

namespace runtime {
namespace {

// Bytes 80..9F of Windows-1252.
constexpr char16_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

struct EncodeTable {
    std::array<unsigned char, 0x10000> byte{};
    EncodeTable()
    {
        byte.fill('?');
        for (int c = 0; c < 0x100; ++c)
            if (c < 0x80 || c >= 0xA0)
                byte[c] = static_cast<unsigned char>(c);
        for (int i = 0; i < 32; ++i)
            byte[kHigh[i]] = static_cast<unsigned char>(0x80 + i);
    }
};

const EncodeTable &encodeTable()
{
    static const EncodeTable table;
    return table;
}

} // namespace

QString fromAnsi(QByteArrayView bytes)
{
    QString out(bytes.size(), Qt::Uninitialized);
    char16_t *dst = reinterpret_cast<char16_t *>(out.data());
    const auto *src = reinterpret_cast<const unsigned char *>(bytes.data());
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const unsigned char c = src[i];
        dst[i] = (c >= 0x80 && c < 0xA0) ? kHigh[c - 0x80] : char16_t(c);
    }
    return out;
}

QByteArray toAnsi(QStringView text)
{
    const auto &table = encodeTable().byte;
    QByteArray out(text.size(), Qt::Uninitialized);
    char *dst = out.data();
    qsizetype n = 0;
    const char16_t *src = text.utf16();
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t u = src[i];
        if (QChar::isHighSurrogate(u) && i + 1 < size && QChar::isLowSurrogate(src[i + 1]))
            ++i; // one character outside the BMP: one '?'
        dst[n++] = static_cast<char>(table[u]);
    }
    out.truncate(n);
    return out;
}

} // namespace runtime
