#include "runtime/CodePage.h"

#include <algorithm>
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

// Most parameter files are plain ASCII, which reads the same in the code
// page: narrows the first characters of src into dst while they are, in
// blocks of fixed length that the compiler vectorises, and says how many.
constexpr int kBlock = 32;

static qsizetype narrowAscii(const char16_t *__restrict src, qsizetype size, char *__restrict dst)
{
    qsizetype i = 0;
    for (; i + kBlock <= size; i += kBlock) {
        char16_t seen = 0;
        for (int k = 0; k < kBlock; ++k) {
            seen |= src[i + k];
            dst[i + k] = char(src[i + k]);
        }
        if (seen >= 0x80)
            break;
    }
    return i;
}

qsizetype toAnsi(QStringView text, char *dst)
{
    const auto &table = encodeTable().byte;
    const char16_t *src = text.utf16();
    const qsizetype size = text.size();
    qsizetype n = 0;
    qsizetype i = 0;
    while (i < size) {
        const qsizetype ascii = narrowAscii(src + i, size - i, dst + n);
        i += ascii;
        n += ascii;
        // What follows, up to the next block that may be ASCII again.
        const qsizetype end = std::min(size, i + kBlock);
        for (; i < end; ++i) {
            const char16_t u = src[i];
            if (QChar::isHighSurrogate(u) && i + 1 < size && QChar::isLowSurrogate(src[i + 1]))
                ++i; // one character outside the BMP: one '?'
            dst[n++] = static_cast<char>(table[u]);
        }
    }
    return n;
}

QByteArray toAnsi(QStringView text)
{
    QByteArray out(text.size(), Qt::Uninitialized);
    out.truncate(toAnsi(text, out.data()));
    return out;
}

} // namespace runtime
