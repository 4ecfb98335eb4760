#include "runtime/Files.h"

#include "runtime/CodePage.h"
#include "runtime/PlainFile.h"
#include "runtime/RuntimeError.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>

namespace runtime::files {
namespace {

struct OpenFile {
    QString path;                // as the program named it, for the error report
    QByteArray data;             // input: the whole file
    qsizetype pos = 0;
    std::optional<SaveFile> out; // output: unfinished until Close()
    bool output() const { return out.has_value(); }
};

std::map<int, OpenFile> &table()
{
    static std::map<int, OpenFile> t;
    return t;
}

OpenFile &entry(int number)
{
    auto it = table().find(number);
    if (it == table().end())
        raise(BadFileNumber, QString::number(number));
    return it->second;
}

void checkNumber(int number)
{
    if (number < 1 || number > kMaxFileNumber)
        raise(BadFileNumber, QString::number(number));
    if (table().count(number))
        raise(FileAlreadyOpen, QString::number(number));
}

} // namespace

int FreeFile()
{
    for (int n = 1; n <= kMaxFileNumber; ++n)
        if (!table().count(n))
            return n;
    raise(TooManyFiles);
}

void OpenInput(int number, const QString &path)
{
    checkNumber(number);
    OpenFile f;
    f.path = path;
    f.data = readPlainFile(path);
    table().emplace(number, std::move(f));
}

void OpenOutput(int number, const QString &path)
{
    checkNumber(number);
    OpenFile f;
    f.path = path;
    f.out.emplace(path);
    table().emplace(number, std::move(f));
}

bool Eof(int number)
{
    OpenFile &f = entry(number);
    if (f.output())
        return true;
    return f.pos >= f.data.size();
}

QString LineInput(int number)
{
    OpenFile &f = entry(number);
    if (f.output())
        raise(BadFileNumber, f.path);
    if (f.pos >= f.data.size())
        raise(InputPastEnd, f.path);
    const char *begin = f.data.constData() + f.pos;
    const qsizetype left = f.data.size() - f.pos;
    qsizetype len = left;
    qsizetype skip = 0;
    // Find the next CR LF; lone CRs and LFs belong to the line.
    const char *p = begin;
    const char *end = begin + left;
    while (p < end) {
        const void *cr = std::memchr(p, '\r', static_cast<size_t>(end - p));
        if (!cr)
            break;
        const char *c = static_cast<const char *>(cr);
        if (c + 1 < end && c[1] == '\n') {
            len = c - begin;
            skip = 2;
            break;
        }
        p = c + 1;
    }
    f.pos += len + skip;
    return fromAnsi(QByteArrayView(begin, len));
}

void Print(int number, const QString &text, bool lineBreak)
{
    OpenFile &f = entry(number);
    if (!f.output())
        raise(BadFileNumber, f.path);
    // Converted and written a piece at a time: a multi-megabyte text needs no
    // second whole copy, and the pieces stay in the cache. Nothing reaches
    // the target before Close() either way.
    constexpr qsizetype kPiece = 64 * 1024;
    const QStringView all(text);
    QByteArray bytes(kPiece, Qt::Uninitialized);
    try {
        qsizetype i = 0;
        while (i < all.size()) {
            qsizetype n = std::min(kPiece, all.size() - i);
            // A surrogate pair is one character: keep it in one piece.
            if (i + n < all.size() && all[i + n - 1].isHighSurrogate())
                --n;
            f.out->write(QByteArrayView(bytes.constData(), toAnsi(all.mid(i, n), bytes.data())));
            i += n;
        }
        if (lineBreak)
            f.out->write("\r\n");
    } catch (...) {
        table().erase(number); // a failed write cancels the output: the target keeps its old content
        throw;
    }
}

void Close(int number)
{
    auto it = table().find(number);
    if (it == table().end())
        raise(BadFileNumber, QString::number(number));
    std::optional<SaveFile> out = std::move(it->second.out);
    table().erase(it);
    if (out)
        out->commit(); // when it fails, dropping it cancels
}

void CloseAll() { table().clear(); }

bool isOpen(int number) { return table().count(number) != 0; }

} // namespace runtime::files
