#include "runtime/Files.h"

#include "runtime/CodePage.h"
#include "runtime/DrivePath.h"
#include "runtime/RuntimeError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace runtime::files {
namespace {

struct OpenFile {
    QString path;           // as the program named it, for the error report
    bool output = false;
    QByteArray data;        // input: the whole file
    qsizetype pos = 0;
    std::unique_ptr<QSaveFile> out;
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

bool folderExists(const QString &native)
{
    const QFileInfo info(native);
    return QFileInfo(info.absolutePath()).isDir();
}

int writeErrorNumber(int err)
{
    switch (err) {
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return DiskFull;
    case EACCES:
    case EPERM:
    case EROFS:
        return PermissionDenied;
    default:
        return PathFileAccess;
    }
}

void cancelOutput(int number)
{
    auto it = table().find(number);
    if (it == table().end())
        return;
    if (it->second.out)
        it->second.out->cancelWriting();
    table().erase(it); // the QSaveFile's destructor removes its new file
}

// Writes all of it or cancels the output. QSaveFile::write() returns a short
// count without an error when the disk fills part-way, and commit() would then
// put the cut copy in place: so every count is checked here.
void writeAll(int number, const char *data, qsizetype size)
{
    OpenFile &f = table().at(number);
    errno = 0;
    const qint64 n = f.out->write(data, size);
    if (n == size)
        return;
    const int err = errno;
    const bool resource = f.out->error() == QFileDevice::ResourceError;
    const QString path = f.path;
    cancelOutput(number);
    if (n >= 0 || resource || !err)
        raise(DiskFull, path);
    raise(writeErrorNumber(err), path);
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
    const QString native = nativePath(path);
    const QFileInfo info(native);
    if (!info.exists()) {
        if (!folderExists(native))
            raise(PathNotFound, path);
        raise(FileNotFound, path);
    }
    if (info.isDir())
        raise(PathFileAccess, path);
    QFile file(native);
    if (!file.open(QIODevice::ReadOnly)) {
        raise(file.error() == QFileDevice::PermissionsError ? PermissionDenied : PathFileAccess,
              path);
    }
    errno = 0;
    QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        raise(PathFileAccess, path);
    OpenFile f;
    f.path = path;
    f.data = std::move(data);
    table().emplace(number, std::move(f));
}

void OpenOutput(int number, const QString &path)
{
    checkNumber(number);
    const QString native = nativePath(path);
    if (!folderExists(native))
        raise(PathNotFound, path);
    const QFileInfo info(native);
    if (info.isDir())
        raise(PathFileAccess, path);
    // The new file replaces the target by renaming over it, which a
    // read-only target would not stop: refuse it here.
    if (info.exists() && !info.isWritable())
        raise(PermissionDenied, path);
    auto out = std::make_unique<QSaveFile>(native);
    // Unbuffered, so the count each write returns is what reached the file.
    if (!out->open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        const int err = errno;
        raise(out->error() == QFileDevice::PermissionsError ? PermissionDenied
                                                             : writeErrorNumber(err),
              path);
    }
    OpenFile f;
    f.path = path;
    f.output = true;
    f.out = std::move(out);
    table().emplace(number, std::move(f));
}

bool Eof(int number)
{
    OpenFile &f = entry(number);
    if (f.output)
        return true;
    return f.pos >= f.data.size();
}

QString LineInput(int number)
{
    OpenFile &f = entry(number);
    if (f.output)
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
    if (!f.output)
        raise(BadFileNumber, f.path);
    // Converted and written a piece at a time: a multi-megabyte text needs no
    // second whole copy, and the pieces stay in the cache. Nothing reaches
    // the target before Close() either way.
    constexpr qsizetype kPiece = 64 * 1024;
    const QStringView all(text);
    QByteArray bytes(kPiece, Qt::Uninitialized);
    qsizetype i = 0;
    while (i < all.size()) {
        qsizetype n = std::min(kPiece, all.size() - i);
        // A surrogate pair is one character: keep it in one piece.
        if (i + n < all.size() && all[i + n - 1].isHighSurrogate())
            --n;
        writeAll(number, bytes.constData(), toAnsi(all.mid(i, n), bytes.data()));
        i += n;
    }
    if (lineBreak)
        writeAll(number, "\r\n", 2);
}

void Close(int number)
{
    auto it = table().find(number);
    if (it == table().end())
        raise(BadFileNumber, QString::number(number));
    OpenFile &f = it->second;
    if (!f.output) {
        table().erase(it);
        return;
    }
    const QString path = f.path;
#ifdef Q_OS_UNIX
    // commit() ignores a failed flush to disk and would still put the new
    // file in place of the old one. (Its own flush then finds nothing to do.)
#ifdef Q_OS_LINUX
    const int synced = ::fdatasync(f.out->handle());
#else
    const int synced = ::fsync(f.out->handle());
#endif
    if (synced != 0 && errno != EINVAL) {
        const int err = errno;
        cancelOutput(number);
        raise(writeErrorNumber(err), path);
    }
#endif
    errno = 0;
    const bool ok = f.out->commit();
    const int err = errno;
    table().erase(it);
    if (!ok)
        raise(err ? writeErrorNumber(err) : PathFileAccess, path);
}

void CloseAll()
{
    for (auto &[number, f] : table())
        if (f.out)
            f.out->cancelWriting();
    table().clear();
}

bool isOpen(int number) { return table().count(number) != 0; }

} // namespace runtime::files
