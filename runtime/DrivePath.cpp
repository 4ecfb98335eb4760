#include "runtime/DrivePath.h"

#include <QDir>
#include <QFile>
#include <QStringList>

#ifndef Q_OS_WIN
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <vector>
#endif

namespace runtime {

QString driveCRoot()
{
    QString prefix = qEnvironmentVariable("WINEPREFIX");
    if (prefix.isEmpty())
        prefix = QDir::homePath() + QStringLiteral("/.wine");
    while (prefix.size() > 1 && prefix.endsWith(QLatin1Char('/')))
        prefix.chop(1);
    return prefix + QStringLiteral("/drive_c");
}

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

#else

namespace {

bool entryExists(const QByteArray &path)
{
    struct stat st;
    return ::lstat(path.constData(), &st) == 0;
}

// The entry of folder `dir` that matches `name` case-insensitively: the first
// in byte order when several do, so the choice never depends on the order the
// file system lists them in. Empty when none matches.
QByteArray matchInFolder(const QByteArray &dir, const QString &name)
{
    DIR *d = ::opendir(dir.isEmpty() ? "/" : dir.constData());
    if (!d)
        return {};
    std::vector<QByteArray> hits;
    while (const dirent *e = ::readdir(d)) {
        const QByteArray entry(e->d_name);
        if (entry == "." || entry == "..")
            continue;
        if (QFile::decodeName(entry).compare(name, Qt::CaseInsensitive) == 0)
            hits.push_back(entry);
    }
    ::closedir(d);
    if (hits.empty())
        return {};
    return *std::min_element(hits.begin(), hits.end());
}

} // namespace

QString nativePath(const QString &windowsPath)
{
    if (windowsPath.isEmpty())
        return {};

    // The folder the components are laid on, and how far ".." may climb.
    QString base;
    QStringView rest(windowsPath);
    bool relative = false;
    if (isDriveCPath(windowsPath)) {
        base = driveCRoot();
        rest = rest.mid(2);
    } else if (windowsPath[0] == QLatin1Char('\\') || windowsPath[0] == QLatin1Char('/')) {
        base = QStringLiteral("/"); // already a path of this machine
    } else {
        base = QDir::currentPath();
        relative = true;
    }

    QByteArray path = QFile::encodeName(base);
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
    return QFile::decodeName(path);
}

#endif

} // namespace runtime
