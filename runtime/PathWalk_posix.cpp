#include "runtime/PathWalk.h"

#include "runtime/DrivePath.h"
#include "runtime/RuntimeError.h"

#include <QFile>

#include <cerrno>
#include <cstdlib>

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

namespace runtime::pathwalk {

Fd &Fd::operator=(Fd &&other) noexcept
{
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = other.release();
    }
    return *this;
}

Fd::~Fd()
{
    if (fd_ >= 0)
        ::close(fd_);
}

int Fd::release()
{
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

namespace {

// Folders are opened only to walk through them and to name things in them:
// no read permission is needed, and a link is never followed by the kernel.
#ifdef O_PATH
constexpr int kWalkOnly = O_PATH;
#else
constexpr int kWalkOnly = O_RDONLY;
#endif
constexpr int kFolderFlags = kWalkOnly | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
constexpr int kMaxLinks = 40; // as the kernel's own limit

QByteArray joined(const QByteArray &folder, const QByteArray &name)
{
    if (name == ".")
        return folder.isEmpty() ? QByteArray("/") : folder;
    return folder + '/' + name;
}

QByteArray parentOf(const QByteArray &shown)
{
    const qsizetype slash = shown.lastIndexOf('/');
    return slash <= 0 ? QByteArray() : shown.left(slash);
}

QString ownerName(uid_t uid)
{
    passwd pw{};
    passwd *found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(uid, &pw, buffer, sizeof buffer, &found) == 0 && found && found->pw_name)
        return QStringLiteral("user %1 (%2)").arg(uid).arg(QFile::decodeName(found->pw_name));
    return QStringLiteral("user %1").arg(uid);
}

bool mayFollow(uid_t link, uid_t target) { return link == ::geteuid() || link == 0 || link == target; }

// A folder on the way, with what the report says of it.
struct Folder {
    Fd fd;
    QByteArray shown;
};

class Walker {
public:
    explicit Walker(const QString &path) : path_(path) {}

    [[noreturn]] void fail(int number, const QString &reason = {}) const
    {
        raise(number, reportWithReason(path_, reason));
    }

    // The number for a name on the way that could not be looked at or opened.
    [[noreturn]] void failOnTheWay(int err) const
    {
        switch (err) {
        case ENOENT:
        case ENOTDIR:
            fail(PathNotFound);
        case EACCES:
        case EPERM:
            fail(PermissionDenied);
        default: // ELOOP, ENAMETOOLONG, EIO, ...
            fail(PathFileAccess);
        }
    }

    Folder start(const QByteArray &native)
    {
        // Where the walk starts is the user's own choice: its links are followed.
        const int fd = ::open(native.isEmpty() ? "/" : native.constData(), kWalkOnly | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            failOnTheWay(errno);
        return {Fd(fd), native == "/" ? QByteArray() : native};
    }

    // The folder that `name` in `from` stands for, through links that may be
    // followed.
    Folder enter(const Folder &from, const QByteArray &name)
    {
        Place p = resolve(from, name);
        if (p.dangling)
            fail(PathNotFound);
        const int fd = ::openat(p.folder.get(), p.name.constData(), kFolderFlags);
        if (fd < 0)
            failOnTheWay(errno);
        Folder to{Fd(fd), p.shown()};
        // What was opened is what the links were judged by.
        struct stat st;
        if (::fstat(to.fd.get(), &st) != 0)
            failOnTheWay(errno);
        p.check(st, path_);
        return to;
    }

    Folder up(const Folder &from)
    {
        const int fd = ::openat(from.fd.get(), "..", kFolderFlags);
        if (fd < 0)
            failOnTheWay(errno);
        return {Fd(fd), parentOf(from.shown)};
    }

    // What `name` in `from` stands for once its links are followed: a name
    // in a folder that is no link, or one that leads nowhere.
    Place resolve(const Folder &from, const QByteArray &name)
    {
        Place p;
        p.folder = duplicate(from.fd);
        p.name = name;
        p.shownFolder = from.shown;
        struct stat st;
        if (name == "." || ::fstatat(from.fd.get(), name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0
            || !S_ISLNK(st.st_mode))
            return p; // what is not there, or cannot be looked at, is for the caller to report
        return follow(p, st);
    }

private:
    Fd duplicate(const Fd &fd) const
    {
        const int copy = ::fcntl(fd.get(), F_DUPFD_CLOEXEC, 0);
        if (copy < 0)
            fail(TooManyFiles);
        return Fd(copy);
    }

    QByteArray readLink(const Place &at) const
    {
        QByteArray content(256, Qt::Uninitialized);
        for (;;) {
            const ssize_t n = ::readlinkat(at.folder.get(), at.name.constData(), content.data(), size_t(content.size()));
            if (n < 0)
                failOnTheWay(errno);
            if (n < content.size()) {
                content.truncate(n);
                return content;
            }
            content.resize(content.size() * 2);
        }
    }

    // Follows the link `at` names (`link` describes it) to what it leads to,
    // and judges it by the owners of both.
    Place follow(const Place &at, const struct stat &link)
    {
        if (++links_ > kMaxLinks)
            fail(PathFileAccess); // links in a loop
        const QByteArray content = readLink(at);
        const QByteArray linkShown = at.shown();
        if (content.isEmpty())
            fail(PathFileAccess);

        // Link texts are paths of this machine: exact names, ".." the real parent.
        Folder base = content.startsWith('/') ? start("/") : Folder{duplicate(at.folder), at.shownFolder};
        QList<QByteArray> parts = content.split('/');
        parts.removeIf([](const QByteArray &part) { return part.isEmpty() || part == "."; });
        // A text ending in '/' or ".." leads to a folder: the name is the folder itself.
        const bool toFolder = content.endsWith('/') || content.endsWith("/.") || parts.isEmpty() || parts.last() == "..";
        const qsizetype walked = toFolder ? parts.size() : parts.size() - 1;
        for (qsizetype i = 0; i < walked; ++i)
            base = parts[i] == ".." ? up(base) : enter(base, parts[i]);

        Place target = toFolder ? Place{duplicate(base.fd), ".", base.shown, false, {}} : resolve(base, parts.last());
        struct stat found;
        if (::fstatat(target.folder.get(), target.name.constData(), &found, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT)
                target.dangling = true; // nothing there: nothing to read, nothing made
            return target;
        }
        target.links.push_back({link.st_uid, linkShown});
        target.check(found, path_);
        return target;
    }

    const QString &path_;
    int links_ = 0;
};

// The components of a Windows path with "." dropped and ".." taken back
// as written, never above the start. A relative path keeps the ".." that
// climb out of the current folder.
QList<QStringView> components(QStringView rest, bool relative)
{
    QList<QStringView> out;
    qsizetype climbs = 0; // leading ".." of a relative path
    qsizetype i = 0;
    while (i <= rest.size()) {
        qsizetype j = i;
        while (j < rest.size() && rest[j] != QLatin1Char('\\') && rest[j] != QLatin1Char('/'))
            ++j;
        const QStringView comp = rest.mid(i, j - i);
        i = j + 1;
        if (comp.isEmpty() || comp == QLatin1String("."))
            continue;
        if (comp != QLatin1String("..")) {
            out.append(comp);
        } else if (out.size() > climbs) {
            out.removeLast();
        } else if (relative) {
            out.append(comp);
            ++climbs;
        }
    }
    return out;
}

// The name of `comp` in `folder`: as written when that exists, else the entry
// that matches it without regard to case, else as written (to be made).
QByteArray nameIn(const Folder &folder, QStringView comp)
{
    const QString name = comp.toString();
    const QByteArray bytes = QFile::encodeName(name);
    struct stat st;
    if (::fstatat(folder.fd.get(), bytes.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT)
        return bytes;
    const QByteArray hit = matchEntry(folder.fd.get(), name);
    return hit.isEmpty() ? bytes : hit;
}

} // namespace

void Place::check(const struct stat &found, const QString &path) const
{
    for (const Link &l : links)
        if (!mayFollow(l.owner, found.st_uid))
            raise(PermissionDenied,
                  reportWithReason(path, QStringLiteral("the link %1 belongs to %2, and what it leads to belongs to %3")
                                             .arg(QFile::decodeName(l.shown), ownerName(l.owner),
                                                  ownerName(found.st_uid))));
}

QByteArray Place::shown() const { return joined(shownFolder, name); }

Place locate(const QString &path)
{
    Walker walker(path);
    QStringView rest(path);
    Folder folder;
    bool relative = false;
    if (isDriveCPath(path)) {
        // The prefix is the user's own choice; drive C's root folder is the first thing judged.
        const QByteArray root = driveCRootBytes();
        const qsizetype slash = root.lastIndexOf('/');
        const Folder prefix = walker.start(root.left(slash));
        folder = walker.enter(prefix, root.mid(slash + 1));
        rest = rest.mid(2);
    } else if (!path.isEmpty() && (path[0] == QLatin1Char('\\') || path[0] == QLatin1Char('/'))) {
        folder = walker.start("/");
    } else {
        char *cwd = ::getcwd(nullptr, 0);
        folder = walker.start(".");
        folder.shown = cwd ? QByteArray(cwd) : QByteArray(".");
        std::free(cwd);
        relative = true;
    }

    const QList<QStringView> comps = components(rest, relative);
    for (qsizetype i = 0; i + 1 < comps.size(); ++i)
        folder = comps[i] == QLatin1String("..") ? walker.up(folder) : walker.enter(folder, nameIn(folder, comps[i]));
    if (comps.isEmpty())
        return walker.resolve(folder, ".");
    if (comps.last() == QLatin1String(".."))
        return walker.resolve(walker.up(folder), ".");
    return walker.resolve(folder, nameIn(folder, comps.last()));
}

QByteArray matchEntry(int folder, const QString &name)
{
    const int fd = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return {};
    DIR *d = ::fdopendir(fd);
    if (!d) {
        ::close(fd);
        return {};
    }
    QByteArray best;
    while (const dirent *e = ::readdir(d)) {
        const QByteArray entry(e->d_name);
        if (entry == "." || entry == "..")
            continue;
        if (QFile::decodeName(entry).compare(name, Qt::CaseInsensitive) == 0 && (best.isEmpty() || entry < best))
            best = entry;
    }
    ::closedir(d);
    return best;
}

QString reportWithReason(const QString &path, const QString &reason)
{
    const QString report = reportPath(path);
    return reason.isEmpty() ? report : report + QStringLiteral(": ") + reason;
}

} // namespace runtime::pathwalk
