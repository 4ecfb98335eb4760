#include "runtime/DrivePath.h"

#include <QFile>

#ifndef Q_OS_WIN
#include "runtime/PathWalk.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>
#endif

namespace runtime {

bool isDriveCPath(const QString &windowsPath)
{
    return windowsPath.size() >= 2 && (windowsPath[0] == QLatin1Char('C') || windowsPath[0] == QLatin1Char('c'))
        && windowsPath[1] == QLatin1Char(':');
}

#ifdef Q_OS_WIN

QString nativePath(const QString &windowsPath)
{
    return windowsPath;
}

QString whereOnDisk(const QString &) { return {}; }

#else

namespace {

// The environment holds bytes: taken as they are, never decoded.
QByteArray homeBytes()
{
    QByteArray home = qgetenv("HOME");
    if (home.isEmpty()) {
        const passwd *pw = ::getpwuid(::getuid());
        home = pw && pw->pw_dir && *pw->pw_dir ? QByteArray(pw->pw_dir) : QByteArray("/");
    }
    return home;
}

QByteArray currentFolderBytes()
{
    char *cwd = ::getcwd(nullptr, 0);
    if (!cwd) // removed: names below it stay relative and are not found
        return ".";
    QByteArray out(cwd);
    std::free(cwd);
    return out;
}

bool entryExists(const QByteArray &path)
{
    struct stat st;
    return ::lstat(path.constData(), &st) == 0;
}

QByteArray matchInFolder(const QByteArray &dir, const QString &name)
{
    const int fd = ::open(dir.isEmpty() ? "/" : dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return {};
    const QByteArray hit = pathwalk::matchEntry(fd, name);
    ::close(fd);
    return hit;
}

} // namespace

QByteArray driveCRootBytes()
{
    QByteArray prefix = qgetenv("WINEPREFIX");
    if (prefix.isEmpty())
        prefix = homeBytes() + "/.wine";
    while (prefix.size() > 1 && prefix.endsWith('/'))
        prefix.chop(1);
    return prefix + "/drive_c";
}

QByteArray nativePathBytes(const QString &windowsPath)
{
    if (windowsPath.isEmpty())
        return {};

    // The folder the components are laid on, and how far ".." may climb.
    QByteArray path;
    QStringView rest(windowsPath);
    bool relative = false;
    if (isDriveCPath(windowsPath)) {
        path = driveCRootBytes();
        rest = rest.mid(2);
    } else if (windowsPath[0] == QLatin1Char('\\') || windowsPath[0] == QLatin1Char('/')) {
        path = "/"; // already a path of this machine
    } else {
        path = currentFolderBytes();
        relative = true;
    }

    if (path.endsWith('/'))
        path.chop(1); // "/" becomes "", components add their own '/'
    qsizetype floor = path.size();
    std::vector<qsizetype> marks; // where each component added starts
    if (relative) {
        // Relative: ".." may climb out of the current folder, up to "/".
        for (qsizetype k = 0; k < path.size(); ++k)
            if (path[k] == '/')
                marks.push_back(k);
        floor = 0;
    }
    bool resolving = true;        // every component so far exists

    qsizetype i = 0;
    const qsizetype n = rest.size();
    while (i < n) {
        qsizetype j = i;
        while (j < n && rest[j] != QLatin1Char('\\') && rest[j] != QLatin1Char('/'))
            ++j;
        const QStringView comp = rest.mid(i, j - i);
        i = j + 1;
        if (comp.isEmpty() || comp == QLatin1String("."))
            continue;
        if (comp == QLatin1String("..")) {
            if (!marks.empty()) {
                path.truncate(marks.back());
                marks.pop_back();
            }
            // Above the drive root stays at the root, as on Windows.
            resolving = path.size() == floor || entryExists(path);
            continue;
        }
        const QString name = comp.toString();
        QByteArray bytes = QFile::encodeName(name);
        if (resolving && !entryExists(path + '/' + bytes)) {
            const QByteArray hit = matchInFolder(path, name);
            if (hit.isEmpty())
                resolving = false;
            else
                bytes = hit;
        }
        marks.push_back(path.size());
        path += '/';
        path += bytes;
    }
    if (path.isEmpty())
        path = "/";
    return path;
}

QString nativePath(const QString &windowsPath) { return QFile::decodeName(nativePathBytes(windowsPath)); }

QString whereOnDisk(const QString &windowsPath)
{
    return isDriveCPath(windowsPath) ? nativePath(windowsPath) : QString();
}

#endif

QString reportPath(const QString &windowsPath)
{
    const QString where = whereOnDisk(windowsPath);
    if (where.isEmpty())
        return windowsPath;
    return windowsPath + QStringLiteral(" (which is ") + where + QLatin1Char(')');
}

} // namespace runtime
