#include "runtime/PlainFile.h"

#include "runtime/PathWalk.h"
#include "runtime/RuntimeError.h"

#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace runtime {

using pathwalk::Fd;
using pathwalk::Place;

namespace {

[[noreturn]] void fail(const QString &path, int number, const QString &reason = {})
{
    raise(number, pathwalk::reportWithReason(path, reason));
}

// The number for a write, flush, reservation or replace that failed.
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

// What the report adds for a failure whose number alone would mislead.
QString reasonFor(int err)
{
    switch (err) {
    case EFBIG:
        return QStringLiteral("the file would be larger than the file size limit allows");
    case EROFS:
        return QStringLiteral("the disk is mounted read-only");
    default:
        return {};
    }
}

[[noreturn]] void failWrite(const QString &path, int err)
{
    fail(path, writeErrorNumber(err), reasonFor(err));
}

// The number for a name in a folder already reached that could not be
// looked at or opened.
int openErrorNumber(int err)
{
    switch (err) {
    case ENOENT:
        return FileNotFound;
    case ENOTDIR:
        return PathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
        return PermissionDenied;
    default: // ELOOP (a link swapped in), ENXIO, EISDIR, ...
        return PathFileAccess;
    }
}

// A write past the file-size limit must fail with EFBIG, not end the program.
// Set at every save: cheap, and nothing can have put it back meanwhile.
void ignoreFileSizeSignal() { std::signal(SIGXFSZ, SIG_IGN); }

// A file with no write bit for anyone is read-only, for every user: root's
// power to write it anyway is not used.
void refuseReadOnly(const struct stat &st, const QString &path)
{
    if ((st.st_mode & 0222) == 0)
        fail(path, PermissionDenied, QStringLiteral("the file is read-only"));
}

// Opens the plain file `place` names, never waiting (on a FIFO swapped in, say)
// and never through a link; checks what the descriptor got as at the look
// before it. -1 with errno when it cannot be opened.
int openPlain(const Place &place, int access, const QString &path, struct stat &st)
{
    int fd;
    do
        fd = ::openat(place.folder.get(), place.name.constData(),
                      access | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return -1;
    Fd file(fd);
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        fail(path, PathFileAccess);
    place.check(st, path);
    // A plain file never waits; reads and writes go on as usual.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags != -1)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return file.release();
}

// Looks at what `place` names without opening it: anything but a plain file
// is refused, so that a device or FIFO is not even opened. False when
// nothing is there.
bool lookAt(const Place &place, const QString &path, struct stat &st)
{
    if (::fstatat(place.folder.get(), place.name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT)
            return false;
        fail(path, openErrorNumber(errno));
    }
    if (!S_ISREG(st.st_mode))
        fail(path, PathFileAccess);
    place.check(st, path);
    return true;
}

bool sameAttributes(const struct stat &a, uid_t uid, gid_t gid, mode_t mode)
{
    return a.st_uid == uid && a.st_gid == gid && (a.st_mode & 07777) == (mode & 07777);
}

// Gives the new file the owner, group and permission bits it is to have.
// The owner goes first: changing it may clear set-id bits, which the mode
// then puts back. False when they cannot all be had (a user cannot give a
// file away or to a group of which they are no member, and some file systems
// refuse any change); what is already right is left alone.
bool takeAttributes(int fd, uid_t uid, gid_t gid, mode_t mode, const QString &path)
{
    auto refused = [](int err) { return err == EPERM || err == EACCES || err == EINVAL || err == EROFS; };
    struct stat now;
    if (::fstat(fd, &now) != 0)
        failWrite(path, errno);
    if (sameAttributes(now, uid, gid, mode))
        return true;
    if ((now.st_uid != uid || now.st_gid != gid) && ::fchown(fd, uid, gid) != 0) {
        if (refused(errno))
            return false;
        failWrite(path, errno);
    }
    if (::fchmod(fd, mode & 07777) != 0) {
        if (refused(errno))
            return false;
        failWrite(path, errno);
    }
    // The kernel drops a set-group-id bit it will not grant, without an error.
    return ::fstat(fd, &now) == 0 && sameAttributes(now, uid, gid, mode);
}

bool flushed(int fd)
{
#ifdef Q_OS_LINUX
    const int synced = ::fdatasync(fd);
#else
    const int synced = ::fsync(fd);
#endif
    return synced == 0 || errno == EINVAL; // EINVAL: nothing to flush on this kind of file
}

bool writeWhole(int fd, const char *data, qsizetype size, off_t at, int &err)
{
    while (size > 0) {
        const ssize_t n = at < 0 ? ::write(fd, data, size_t(size)) : ::pwrite(fd, data, size_t(size), at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            err = n < 0 ? errno : ENOSPC; // nothing written: the disk is full
            return false;
        }
        data += n;
        size -= n;
        if (at >= 0)
            at += n;
    }
    return true;
}

} // namespace

QByteArray readPlainFile(const QString &path)
{
    const Place place = pathwalk::locate(path);
    if (place.dangling)
        fail(path, FileNotFound);
    struct stat st;
    if (!lookAt(place, path, st))
        fail(path, FileNotFound);
    const int fd = openPlain(place, O_RDONLY, path, st);
    if (fd < 0)
        fail(path, openErrorNumber(errno));
    const Fd file(fd);
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
            fail(path, PathFileAccess);
        if (n == 0)
            break;
        got += n;
    }
    data.truncate(got);
    return data;
}

struct SaveFile::State {
    QString path;           // as the program names it, for reports
    Place place;            // the target: a plain file's name in its folder, or nothing yet
    bool existed = false;   // the target's owner, group and mode, as found at the start
    uid_t uid = 0;
    gid_t gid = 0;
    mode_t mode = 0;

    // Replacing: the new file beside the target.
    Fd out;
    QByteArray outName;
    // Writing in place: the whole text, written at the commit once its room is reserved.
    bool inPlace = false;
    QByteArray pending;

    ~State() { cancel(); }

    // Drops the new file; the target is untouched.
    void cancel()
    {
        out = Fd();
        if (!outName.isEmpty())
            ::unlinkat(place.folder.get(), outName.constData(), 0);
        outName.clear();
        pending.clear();
    }

    // Makes the new file beside the target, under a name that nothing else
    // has. -1 and errno when it cannot be made.
    int makeNewFile(mode_t newMode)
    {
        static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
        for (int attempt = 0; attempt < 100; ++attempt) {
            QByteArray name = place.name + '.';
            quint64 r = QRandomGenerator::global()->generate64();
            for (int i = 0; i < 6; ++i, r /= 62)
                name += kLetters[r % 62];
            const int fd = ::openat(place.folder.get(), name.constData(),
                                    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, newMode);
            if (fd >= 0)
                outName = name;
            if (fd >= 0 || errno != EEXIST)
                return fd;
        }
        return -1;
    }

    // Why this user may not save over an existing file.
    [[noreturn]] void refuseTarget(int err)
    {
        const bool folderOpen = ::faccessat(place.folder.get(), ".", W_OK | X_OK, AT_EACCESS) == 0;
        if (err == EACCES || err == EPERM)
            fail(path, PermissionDenied,
                 folderOpen ? QStringLiteral("this user may not write the file")
                            : QStringLiteral("this user may write neither the file nor its folder"));
        fail(path, openErrorNumber(err), reasonFor(err));
    }

    void commitReplace();
    void commitInPlace();
};

SaveFile::SaveFile(const QString &path) : d(std::make_unique<State>())
{
    ignoreFileSizeSignal();
    State &s = *d;
    s.path = path;
    s.place = pathwalk::locate(path);
    // A link that leads nowhere: the text would land under a name nobody chose.
    if (s.place.dangling)
        fail(path, PathFileAccess);

    struct stat st;
    s.existed = lookAt(s.place, path, st);
    if (s.existed) {
        refuseReadOnly(st, path);
        // Opened to check what is really there and that this user may write
        // it; nothing is truncated or written through it.
        const int fd = openPlain(s.place, O_WRONLY, path, st);
        if (fd < 0 && errno != ENOENT)
            s.refuseTarget(errno);
        s.existed = fd >= 0;
        const Fd check(fd);
        if (s.existed) {
            refuseReadOnly(st, path);
            s.uid = st.st_uid;
            s.gid = st.st_gid;
            s.mode = st.st_mode;
        }
    }

    // Private until it has the old file's attributes; a new target is made
    // as a file made in place would be (umask, the folder's default ACL).
    const int fd = s.makeNewFile(s.existed ? 0600 : 0666);
    if (fd < 0) {
        const int err = errno;
        if (err == ENOENT || err == ENOTDIR)
            fail(path, PathNotFound);
        if (s.existed && (err == EACCES || err == EPERM || err == ENAMETOOLONG)) {
            s.inPlace = true; // the folder takes no new file, but the file may be written
            return;
        }
        if (err == EACCES || err == EPERM)
            fail(path, PermissionDenied, QStringLiteral("this user may not make a file in the folder"));
        failWrite(path, err);
    }
    s.out = Fd(fd);
    // Known now rather than after the text is written: whether the new file
    // can be what the old one was. Where it cannot, the file itself is written.
    if (s.existed && !takeAttributes(fd, s.uid, s.gid, s.mode, path)) {
        s.cancel();
        s.inPlace = true;
    }
}

SaveFile::SaveFile(SaveFile &&) noexcept = default;
SaveFile &SaveFile::operator=(SaveFile &&) noexcept = default;
SaveFile::~SaveFile() = default;

void SaveFile::write(QByteArrayView bytes)
{
    State &s = *d;
    if (s.inPlace) {
        s.pending.append(bytes);
        return;
    }
    int err = 0;
    if (!writeWhole(s.out.get(), bytes.data(), bytes.size(), -1, err)) {
        s.cancel();
        failWrite(s.path, err);
    }
}

void SaveFile::commit()
{
    State &s = *d;
    if (s.inPlace)
        s.commitInPlace();
    else
        s.commitReplace();
}

void SaveFile::State::commitReplace()
{
    // All of it on the disk before it takes the old file's place.
    if (!flushed(out.get()))
        failWrite(path, errno);

    // The target once more, just before it is replaced: gone is fine (it is
    // made again as it was, which the new file already is); a plain file
    // that may be written is fine, and gives the new file what it has now.
    struct stat st;
    if (lookAt(place, path, st)) {
        refuseReadOnly(st, path);
        if (!takeAttributes(out.get(), st.st_uid, st.st_gid, st.st_mode, path))
            fail(path, PermissionDenied, QStringLiteral("the file changed owner while it was being saved"));
    }

    if (::close(out.release()) != 0 && errno != EINTR)
        failWrite(path, errno);
    if (::renameat(place.folder.get(), outName.constData(), place.folder.get(), place.name.constData()) != 0)
        failWrite(path, errno);
    outName.clear();
}

void SaveFile::State::commitInPlace()
{
    struct stat st;
    int fd = openPlain(place, O_WRONLY, path, st);
    if (fd < 0 && errno == ENOENT) {
        // Removed meanwhile: made again, as a new file is.
        fd = ::openat(place.folder.get(), place.name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                      0666);
        if (fd < 0 && (errno == EACCES || errno == EPERM))
            fail(path, PermissionDenied,
                 QStringLiteral("the file was removed, and this user may not make a file in the folder"));
        if (fd < 0)
            failWrite(path, errno);
        if (::fstat(fd, &st) != 0) {
            ::close(fd);
            failWrite(path, errno);
        }
    }
    if (fd < 0)
        refuseTarget(errno);
    Fd file(fd);
    refuseReadOnly(st, path);

    // Room for all of it first: a full disk or the size limit then leaves
    // the file as it was.
    const qsizetype size = pending.size();
    if (size > 0) {
        const int err = ::posix_fallocate(fd, 0, off_t(size));
        if (err != 0) {
            // A reservation that failed part-way may have grown the file.
            struct stat now;
            if (::fstat(fd, &now) == 0 && now.st_size != st.st_size)
                (void)::ftruncate(fd, st.st_size);
            failWrite(path, err);
        }
    }
    int err = 0;
    if (!writeWhole(fd, pending.constData(), size, 0, err))
        failWrite(path, err);
    if (::ftruncate(fd, off_t(size)) != 0 || !flushed(fd))
        failWrite(path, errno);
    if (::close(file.release()) != 0 && errno != EINTR)
        failWrite(path, errno);
    pending.clear();
}

} // namespace runtime
