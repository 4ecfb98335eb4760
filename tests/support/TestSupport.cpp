#include "TestSupport.h"

#include "runtime/Files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstddef>
#include <cstring>

#include <ftw.h>
#include <grp.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
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

int runAsNobody(const std::function<int()> &body, const std::vector<gid_t> &groups)
{
    const pid_t pid = fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        if (geteuid() == 0) {
            if (setgroups(groups.size(), groups.data()) != 0 || setresgid(65534, 65534, 65534) != 0
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

Outcome inChild(const std::function<QString()> &body, bool nobody, const std::vector<gid_t> &groups)
{
    int fds[2];
    if (pipe(fds) != 0)
        return {-1, QStringLiteral("pipe: %1").arg(strerror(errno))};
    auto run = [&]() -> int {
        ::close(fds[0]);
        const QByteArray msg = body().toUtf8();
        qsizetype done = 0;
        while (done < msg.size()) {
            const ssize_t n = ::write(fds[1], msg.constData() + done, size_t(msg.size() - done));
            if (n <= 0)
                break;
            done += n;
        }
        ::close(fds[1]);
        return msg.isEmpty() ? 0 : msg.startsWith("SKIP: ") ? 77 : 1;
    };
    int code = -1;
    if (nobody) {
        code = runAsNobody(run, groups);
    } else {
        const pid_t pid = fork();
        if (pid == 0)
            _exit(run());
        int status = 0;
        if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status))
            code = WEXITSTATUS(status);
    }
    ::close(fds[1]);
    QByteArray msg;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fds[0], buf, sizeof buf)) > 0)
        msg.append(buf, n);
    ::close(fds[0]);
    Outcome o{code, QString::fromUtf8(msg)};
    if (o.skipped())
        o.text = o.text.mid(6);
    else if (code != 0 && o.text.isEmpty())
        o.text = QStringLiteral("the child ended with %1").arg(code);
    return o;
}

QString failCalls(std::initializer_list<long> calls, int err)
{
    std::vector<sock_filter> filter{BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr))};
    for (const long nr : calls) {
        filter.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, unsigned(nr), 0, 1));
        filter.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (unsigned(err) & SECCOMP_RET_DATA)));
    }
    filter.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    sock_fprog prog{static_cast<unsigned short>(filter.size()), filter.data()};
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &prog) != 0)
        return QStringLiteral("SKIP: no seccomp filter here: %1").arg(strerror(errno));
    return {};
}

QString refuseChown()
{
    return failCalls({__NR_fchown, __NR_fchownat,
#ifdef __NR_chown
                      __NR_chown, __NR_lchown
#endif
                     },
                     EPERM);
}

FileResult readLines(const QString &path)
{
    FileResult r;
    try {
        const int n = runtime::files::FreeFile();
        runtime::files::OpenInput(n, path);
        while (!runtime::files::Eof(n))
            r.lines << runtime::files::LineInput(n);
        runtime::files::Close(n);
    } catch (const runtime::RuntimeError &e) {
        r.number = e.number();
        r.text = e.text();
    }
    runtime::files::CloseAll();
    return r;
}

FileResult writeText(const QString &path, const QString &text, const std::function<void()> &meanwhile)
{
    FileResult r;
    try {
        runtime::files::OpenOutput(4, path);
        runtime::files::Print(4, text);
        if (meanwhile)
            meanwhile();
        runtime::files::Close(4);
    } catch (const runtime::RuntimeError &e) {
        r.number = e.number();
        r.text = e.text();
    }
    runtime::files::CloseAll();
    return r;
}

QString describe(const QString &path)
{
    const QByteArray p = QFile::encodeName(path);
    struct stat st;
    if (::lstat(p.constData(), &st) != 0)
        return QStringLiteral("<none>");
    const char kind = S_ISREG(st.st_mode)    ? 'f'
                      : S_ISLNK(st.st_mode)  ? 'l'
                      : S_ISDIR(st.st_mode)  ? 'd'
                      : S_ISFIFO(st.st_mode) ? 'p'
                      : S_ISSOCK(st.st_mode) ? 's'
                      : S_ISCHR(st.st_mode)  ? 'c'
                                             : '?';
    QString d = QStringLiteral("%1 %2 %3:%4")
                    .arg(QLatin1Char(kind))
                    .arg(st.st_mode & 07777, 4, 8, QLatin1Char('0'))
                    .arg(st.st_uid)
                    .arg(st.st_gid);
    if (S_ISLNK(st.st_mode)) {
        char link[4096];
        const ssize_t n = ::readlink(p.constData(), link, sizeof link);
        d += QStringLiteral(" -> ") + QString::fromUtf8(link, n < 0 ? 0 : n);
    } else if (S_ISCHR(st.st_mode)) {
        d += QStringLiteral(" dev %1,%2").arg(major(st.st_rdev)).arg(minor(st.st_rdev));
    } else if (S_ISREG(st.st_mode)) {
        QFile f(path);
        d += QLatin1Char(' ') + QString::fromLatin1(f.open(QIODevice::ReadOnly) ? f.readAll().toPercentEncoding() : "?");
    }
    return d;
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
