#pragma once
#include "runtime/Runtime.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QTemporaryDir>

#include <functional>

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

// Runs `body` in a forked child as an unprivileged user (uid/gid 65534 when
// root; as the current user otherwise) and returns its exit code, or -1 when
// the child could not run. The body must not touch the window system.
int runAsNobody(const std::function<int()> &body);
bool isRoot();

// Control characters and line ends made visible ("<CR>", "<LF>", "<U+00a0>"),
// for readable failures.
QString shown(const QString &text);

// The names of the files in a folder (hidden ones included), sorted.
QStringList folderEntries(const QString &nativeFolder);

// Removes a folder and all below it, links not followed. Named by bytes:
// Qt cannot remove a tree whose names are not UTF-8.
void removeTree(const QByteArray &nativePath);

} // namespace testing
