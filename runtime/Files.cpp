#include "runtime/Files.h"

#include "runtime/CodePage.h"
#include "runtime/DrivePath.h"
#include "runtime/RuntimeError.h"

#include <QRandomGenerator>
#include <QScopeGuard>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>

#ifdef Q_OS_WIN
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace runtime::files {
namespace {

// Raises `number` naming the file as the program holds it, and where it lies.
[[noreturn]] void fail(int number, const QString &path) { raise(number, reportPath(path)); }

#ifndef Q_OS_WIN

// What the open of an output keeps until Close(): the new file and the target
// it is to replace.
struct Output {
    int fd = -1;         // the new file, beside the target
    QByteArray newPath;
    QByteArray target;   // the plain file replaced: links already followed
    bool existed = false; // the target's owner, group and mode, as found at the open
    uid_t uid = 0;
    gid_t gid = 0;
    mode_t mode = 0;

    // Drops the new file; the target is untouched.
    void cancel()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
        if (!newPath.isEmpty())
            ::unlink(newPath.constData());
        newPath.clear();
    }
};

#endif

struct OpenFile {
    QString path;           // as the program named it, for the error report
    bool output = false;
    QByteArray data;        // input: the whole file
    qsizetype pos = 0;
#ifdef Q_OS_WIN
    std::unique_ptr<QSaveFile> out;
#else
    Output out;
#endif
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

void cancelOutput(int number)
{
    auto it = table().find(number);
    if (it == table().end())
        return;
#ifdef Q_OS_WIN
    if (it->second.out)
        it->second.out->cancelWriting();
#else
    it->second.out.cancel();
#endif
    table().erase(it);
}

#ifdef Q_OS_WIN

bool folderExists(const QString &native)
{
    const QFileInfo info(native);
    return QFileInfo(info.absolutePath()).isDir();
}

QByteArray readWhole(const QString &path)
{
    const QString native = nativePath(path);
    const QFileInfo info(native);
    if (!info.exists())
        fail(folderExists(native) ? FileNotFound : PathNotFound, path);
    if (!info.isFile())
        fail(PathFileAccess, path);
    QFile file(native);
    if (!file.open(QIODevice::ReadOnly))
        fail(file.error() == QFileDevice::PermissionsError ? PermissionDenied : PathFileAccess, path);
    QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        fail(PathFileAccess, path);
    return data;
}

void openOutput(OpenFile &f)
{
    const QString native = nativePath(f.path);
    if (!folderExists(native))
        fail(PathNotFound, f.path);
    const QFileInfo info(native);
    if (info.exists() && !info.isFile())
        fail(PathFileAccess, f.path);
    // The new file replaces the target by renaming over it, which a
    // read-only target would not stop: refuse it here.
    if (info.exists() && !info.isWritable())
        fail(PermissionDenied, f.path);
    auto out = std::make_unique<QSaveFile>(native);
    // Unbuffered, so the count each write returns is what reached the file.
    if (!out->open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        fail(out->error() == QFileDevice::PermissionsError ? PermissionDenied : PathFileAccess, f.path);
    f.out = std::move(out);
}

// Writes all of it or cancels the output: QSaveFile::write() returns a short
// count without an error when the disk fills part-way.
void writeAll(int number, const char *data, qsizetype size)
{
    OpenFile &f = table().at(number);
    const qint64 n = f.out->write(data, size);
    if (n == size)
        return;
    const bool full = n >= 0 || f.out->error() == QFileDevice::ResourceError;
    const QString path = f.path;
    cancelOutput(number);
    fail(full ? DiskFull : PathFileAccess, path);
}

void commitOutput(int number)
{
    OpenFile &f = table().at(number);
    const QString path = f.path;
    const bool ok = f.out->commit();
    table().erase(number);
    if (!ok)
        fail(PathFileAccess, path);
}

#else

// The number for a write, flush or replace that failed.
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

QByteArray folderOf(const QByteArray &native)
{
    const qsizetype slash = native.lastIndexOf('/');
    if (slash < 0)
        return ".";
    return slash == 0 ? QByteArray("/") : native.left(slash);
}

bool isFolder(const QByteArray &native)
{
    struct stat st;
    return ::stat(native.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The number for a name that could not be opened or looked at.
int openErrorNumber(int err, const QByteArray &native)
{
    switch (err) {
    case ENOENT:
        return isFolder(folderOf(native)) ? FileNotFound : PathNotFound;
    case ENOTDIR:
        return PathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
        return PermissionDenied;
    default: // ENXIO (a socket, a FIFO without a reader), ELOOP, EISDIR, ...
        return PathFileAccess;
    }
}

// ---------------------------------------------------------------------------
// The plain-file rule. Files are read and replaced only when they are plain
// files: a folder, a device, a FIFO or a socket, named directly or through
// links, is refused with 75, and nothing waits on it or is written to it.
// openPlainFile() is the one place that opens an existing file; the output
// side adds stillReplaceable() just before its new file takes the target's
// place, so that a link or FIFO swapped in meanwhile is caught too.
// ---------------------------------------------------------------------------

// A file with no write bit for anyone is read-only, for every user: root's
// power to write it anyway is not used. Raises 70 for such a file.
void refuseReadOnly(const struct stat &st, const QString &path)
{
    if ((st.st_mode & 0222) == 0)
        fail(PermissionDenied, path);
}

// Opens `native` with `access` and checks the descriptor it got: anything
// but a plain file is closed again and refused with 75. What the name shows
// is looked at first, so that a device or FIFO is not even opened; the open
// never waits all the same, for what is swapped in between the look and the
// open. Fills `st` from the descriptor. With `goneOk`, a name that does not
// exist gives -1 in place of the report.
int openPlainFile(const QByteArray &native, int access, const QString &path, struct stat &st,
                  bool goneOk = false)
{
    if (::stat(native.constData(), &st) == 0 && !S_ISREG(st.st_mode))
        fail(PathFileAccess, path);
    int fd;
    do
        fd = ::open(native.constData(), access | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        const int err = errno;
        if (goneOk && err == ENOENT)
            return -1;
        fail(openErrorNumber(err, native), path);
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        fail(PathFileAccess, path);
    }
    // A plain file never waits; reads and writes go on as usual.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags != -1)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

// Looks at the target once more just before the new file replaces it. Gone
// is fine (the save makes it again); a plain file that may be written is
// fine, and `st` then holds what it is now; anything else is refused.
// Returns whether the target is there.
bool stillReplaceable(const QByteArray &target, const QString &path, struct stat &st)
{
    if (::lstat(target.constData(), &st) != 0) {
        if (errno == ENOENT)
            return false;
        fail(openErrorNumber(errno, target), path);
    }
    if (!S_ISREG(st.st_mode))
        fail(PathFileAccess, path);
    refuseReadOnly(st, path);
    return true;
}

QByteArray readWhole(const QString &path)
{
    const QByteArray native = nativePathBytes(path);
    struct stat st;
    const int fd = openPlainFile(native, O_RDONLY, path, st);
    auto closeFile = qScopeGuard([fd] { ::close(fd); });
    // Sized by the file, one byte over so that the first pass sees its end;
    // a file that grows meanwhile is read on to its new end.
    QByteArray data(qsizetype(st.st_size) + 1, Qt::Uninitialized);
    qsizetype got = 0;
    for (;;) {
        if (got == data.size())
            data.resize(got + std::max<qsizetype>(got / 2, 64 * 1024));
        const ssize_t n = ::read(fd, data.data() + got, size_t(data.size() - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            fail(PathFileAccess, path);
        if (n == 0)
            break;
        got += n;
    }
    data.truncate(got);
    return data;
}

// The file that an output replaces: the named file itself, or the one its
// links lead to (the text goes there; the link stays a link). `exists` tells
// whether there is one, and `st` then describes it, unopened. A link that
// leads nowhere is refused: the text would land under a name nobody chose.
QByteArray outputTarget(const QByteArray &native, const QString &path, bool &exists, struct stat &st)
{
    exists = ::lstat(native.constData(), &st) == 0;
    if (!exists) {
        if (errno != ENOENT)
            fail(openErrorNumber(errno, native), path);
        return native;
    }
    if (!S_ISLNK(st.st_mode))
        return native;
    char *const real = ::realpath(native.constData(), nullptr);
    if (!real) // ENOENT: a link that leads nowhere; ELOOP: links in a loop
        fail(errno == ENOENT ? PathFileAccess : openErrorNumber(errno, native), path);
    const QByteArray target(real);
    std::free(real);
    if (::lstat(target.constData(), &st) != 0)
        fail(openErrorNumber(errno, target), path);
    return target;
}

// Makes the new file beside the target, under a name that nothing else has.
// Returns its descriptor (-1 and errno when it cannot be made).
int makeNewFile(const QByteArray &target, mode_t mode, QByteArray &newPath)
{
    static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        newPath = target + '.';
        quint64 r = QRandomGenerator::global()->generate64();
        for (int i = 0; i < 6; ++i, r /= 62)
            newPath += kLetters[r % 62];
        const int fd = ::open(newPath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// Gives the new file the owner, group and permission bits it is to have.
// The owner goes first: changing it may clear set-id bits, which the mode
// then puts back. A non-root user cannot give a file away, and a file that
// would change hands is not written at all: 70. What is already right is
// left alone (some file systems refuse any change, and need none).
void setAttributes(const Output &o, uid_t uid, gid_t gid, mode_t mode, const QString &path)
{
    struct stat now;
    if (::fstat(o.fd, &now) != 0)
        fail(writeErrorNumber(errno), path);
    if ((now.st_uid != uid || now.st_gid != gid) && ::fchown(o.fd, uid, gid) != 0)
        fail(PermissionDenied, path);
    if ((now.st_uid != uid || now.st_gid != gid || (now.st_mode & 07777) != (mode & 07777))
        && ::fchmod(o.fd, mode & 07777) != 0)
        fail(writeErrorNumber(errno), path);
}

void openOutput(OpenFile &f)
{
    Output &o = f.out;
    struct stat st;
    o.target = outputTarget(nativePathBytes(f.path), f.path, o.existed, st);
    if (o.existed) {
        // Opened to check what is really there and that this user may
        // write it; nothing is truncated or written through it.
        const int fd = openPlainFile(o.target, O_WRONLY | O_NOFOLLOW, f.path, st, true);
        o.existed = fd >= 0;
        if (fd >= 0) {
            ::close(fd);
            refuseReadOnly(st, f.path);
            o.uid = st.st_uid;
            o.gid = st.st_gid;
            o.mode = st.st_mode;
        }
    }

    // Private until it has the old file's attributes; a new target is made
    // as a file made in place would be (umask, the folder's default ACL).
    QByteArray newPath;
    const int fd = makeNewFile(o.target, o.existed ? 0600 : 0666, newPath);
    if (fd < 0) {
        const int err = errno;
        fail(err == ENOENT || err == ENOTDIR ? PathNotFound : writeErrorNumber(err), f.path);
    }
    o.fd = fd;
    o.newPath = newPath;
    // Known now rather than after the text is written: whether the new file
    // can have the old one's owner.
    try {
        if (o.existed)
            setAttributes(o, o.uid, o.gid, o.mode, f.path);
    } catch (...) {
        o.cancel();
        throw;
    }
}

// Writes all of it or cancels the output: a write cut short by a full disk
// goes on with the rest, which then fails.
void writeAll(int number, const char *data, qsizetype size)
{
    OpenFile &f = table().at(number);
    while (size > 0) {
        const ssize_t n = ::write(f.out.fd, data, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int err = n < 0 ? writeErrorNumber(errno) : DiskFull;
            const QString path = f.path;
            cancelOutput(number);
            fail(err, path);
        }
        data += n;
        size -= n;
    }
}

void commitOutput(int number)
{
    OpenFile &f = table().at(number);
    const QString path = f.path;
    Output o = f.out;
    table().erase(number);
    auto cancel = qScopeGuard([&o] { o.cancel(); });

    // All of it on the disk before it takes the old file's place.
#ifdef Q_OS_LINUX
    const int synced = ::fdatasync(o.fd);
#else
    const int synced = ::fsync(o.fd);
#endif
    if (synced != 0 && errno != EINVAL)
        fail(writeErrorNumber(errno), path);

    struct stat st;
    if (stillReplaceable(o.target, path, st))
        setAttributes(o, st.st_uid, st.st_gid, st.st_mode, path);
    else if (o.existed) // removed meanwhile: made again as it was
        setAttributes(o, o.uid, o.gid, o.mode, path);

    const int fd = o.fd;
    o.fd = -1;
    if (::close(fd) != 0 && errno != EINTR)
        fail(writeErrorNumber(errno), path);
    if (::rename(o.newPath.constData(), o.target.constData()) != 0)
        fail(writeErrorNumber(errno), path);
    cancel.dismiss();
}

#endif

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
    f.data = readWhole(path);
    table().emplace(number, std::move(f));
}

void OpenOutput(int number, const QString &path)
{
    checkNumber(number);
    OpenFile f;
    f.path = path;
    f.output = true;
    openOutput(f);
    try {
        table().emplace(number, std::move(f));
    } catch (...) {
#ifndef Q_OS_WIN
        f.out.cancel();
#endif
        throw;
    }
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
    if (!it->second.output) {
        table().erase(it);
        return;
    }
    commitOutput(number);
}

void CloseAll()
{
    for (auto &[number, f] : table()) {
#ifdef Q_OS_WIN
        if (f.out)
            f.out->cancelWriting();
#else
        if (f.output)
            f.out.cancel();
#endif
    }
    table().clear();
}

bool isOpen(int number) { return table().count(number) != 0; }

} // namespace runtime::files
