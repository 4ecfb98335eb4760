#pragma once
#include "runtime/Runtime.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QTemporaryDir>

#include <functional>
#include <initializer_list>
#include <vector>

#include <sys/types.h>

namespace testing {

// Captures the error report and the program's end in place of the message
// box and the exit. Installs itself on construction; resets the runtime
// (windows, files, hooks) on destruction.
class Recorder {
public:
    Recorder();
    ~Recorder();
    struct Report {
        int number;
        QString text;
    };
    QList<Report> reports;
    QList<int> ends;
    bool ended() const { return !ends.isEmpty(); }
};

// A temporary Windows prefix: WINEPREFIX points at it while it lives, and
// drive C: is its drive_c folder (with windows/temp made).
class Prefix {
public:
    Prefix();
    ~Prefix();
    QString root() const { return dir_.path(); }
    QString driveC() const;
    // Paths below drive_c, '/'-separated.
    QString path(const QString &relative) const;
    QString write(const QString &relative, const QByteArray &bytes) const;
    QByteArray read(const QString &relative) const;
    bool exists(const QString &relative) const;

private:
    QTemporaryDir dir_;
    QByteArray oldPrefix_;
    bool hadPrefix_;
};

// Runs `body` in a forked child as an unprivileged user (uid/gid 65534 with
// the supplementary `groups` when root; as the current user otherwise) and
// returns its exit code, or -1 when the child could not run. The body must
// not touch the window system.
int runAsNobody(const std::function<int()> &body, const std::vector<gid_t> &groups = {});
bool isRoot();

// What a forked child reports: "" when all went well, "SKIP: why", or what
// failed.
struct Outcome {
    int code = -1;
    QString text; // without the "SKIP: "
    bool skipped() const { return code == 77; }
};

// Runs `body` in a forked child, as runAsNobody() does when `nobody` (with
// those `groups`), and hands back what it returned. Limits, mounts, filters
// and the change of user stay in the child.
Outcome inChild(const std::function<QString()> &body, bool nobody = false, const std::vector<gid_t> &groups = {});

// Collects failed checks in a child, where QVERIFY cannot be used.
struct Checks {
    QStringList failed;
    void check(bool ok, const char *what, int line)
    {
        if (!ok)
            failed << QStringLiteral("line %1: %2").arg(line).arg(what);
    }
    QString result() const { return failed.join('\n'); }
};
#define CHECK(cond) checks.check(bool(cond), #cond, __LINE__)

// The given system calls fail with `err` from here on, in this process only
// (a seccomp filter). "SKIP: why" when this machine has no such filters.
QString failCalls(std::initializer_list<long> calls, int err);
// A file system that gives no file away (NFS with root squashed, say): every
// change of owner fails with EPERM, for root too.
QString refuseChown();

// A read or a write through files by number: the number of the run-time
// error and its text (0 when all went well), and the lines read.
struct FileResult {
    int number = 0;
    QString text;
    QStringList lines;
};
// Every line of the file, through a free file number.
FileResult readLines(const QString &path);
// The text and a line break through file number 4; `meanwhile` runs between
// the write and the close. Every file is closed afterwards.
FileResult writeText(const QString &path, const QString &text, const std::function<void()> &meanwhile = {});

// One entry as a test sees it, links not followed: its kind, mode and owner,
// and what it holds (percent-encoded) or where it leads ("<none>" if absent).
QString describe(const QString &path);

// Control characters and line ends made visible ("<CR>", "<LF>", "<U+00a0>"),
// for readable failures.
QString shown(const QString &text);

// The names of the files in a folder (hidden ones included), sorted.
QStringList folderEntries(const QString &nativeFolder);

// Removes a folder and all below it, links not followed. Named by bytes:
// Qt cannot remove a tree whose names are not UTF-8.
void removeTree(const QByteArray &nativePath);

} // namespace testing
