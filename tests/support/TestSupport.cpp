#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <ftw.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testing {

Recorder::Recorder()
{
    runtime::resetForTest();
    runtime::setReportHook([this](const runtime::RuntimeError &e) {
        reports.append({e.number(), e.text()});
    });
    runtime::setEndHook([this](int status) { ends.append(status); });
}

Recorder::~Recorder() { runtime::resetForTest(); }

Prefix::Prefix() : hadPrefix_(qEnvironmentVariableIsSet("WINEPREFIX"))
{
    oldPrefix_ = qgetenv("WINEPREFIX");
    QDir(dir_.path()).mkpath(QStringLiteral("drive_c/windows/temp"));
    qputenv("WINEPREFIX", QFile::encodeName(dir_.path()));
}

Prefix::~Prefix()
{
    if (hadPrefix_)
        qputenv("WINEPREFIX", oldPrefix_);
    else
        qunsetenv("WINEPREFIX");
}

QString Prefix::driveC() const { return dir_.path() + QStringLiteral("/drive_c"); }

QString Prefix::path(const QString &relative) const { return driveC() + QLatin1Char('/') + relative; }

QString Prefix::write(const QString &relative, const QByteArray &bytes) const
{
    const QString p = path(relative);
    QDir().mkpath(QFileInfo(p).absolutePath());
    QFile f(p);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(p));
    return p;
}

QByteArray Prefix::read(const QString &relative) const
{
    QFile f(path(relative));
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return f.readAll();
}

bool Prefix::exists(const QString &relative) const { return QFileInfo::exists(path(relative)); }

bool isRoot() { return geteuid() == 0; }

int runAsNobody(const std::function<int()> &body)
{
    const pid_t pid = fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        if (geteuid() == 0) {
            if (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0
                || setresuid(65534, 65534, 65534) != 0)
                _exit(126);
        }
        _exit(body());
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

QString shown(const QString &text)
{
    QString out;
    for (QChar c : text) {
        if (c == u'\r')
            out += QStringLiteral("<CR>");
        else if (c == u'\n')
            out += QStringLiteral("<LF>");
        else if (c.unicode() < 0x20 || c.unicode() >= 0x7F)
            out += QStringLiteral("<U+%1>").arg(c.unicode(), 4, 16, QChar(u'0'));
        else
            out += c;
    }
    return out;
}

QStringList folderEntries(const QString &nativeFolder)
{
    return QDir(nativeFolder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                        QDir::Name);
}

void removeTree(const QByteArray &nativePath)
{
    ::nftw(
        nativePath.constData(), [](const char *path, const struct stat *, int, FTW *) { return ::remove(path); }, 16,
        FTW_DEPTH | FTW_PHYS);
}

} // namespace testing
