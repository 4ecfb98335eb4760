#pragma once
#include <QByteArray>
#include <QString>

namespace runtime {

// Turns a Windows path as the program holds it ("C:\Windows\Temp\game2.Gdb",
// or a relative "a\b.txt") into a path of this machine. On Windows the path is
// returned as it stands. Elsewhere "C:\" lies under driveCRootBytes(), '\'
// separates folders, and each component that does not exist with its exact
// case is matched case-insensitively against the folder's entries. A
// component that matches nothing is kept as written (so a file can be
// created). A path without a drive is relative to the current folder.
// For showing only: off Windows, files are found by pathwalk::locate()
// (PathWalk.h), which walks the same way through open folders.
QString nativePath(const QString &windowsPath);

#ifndef Q_OS_WIN
// The same path as bytes, the form in which it is opened: the prefix, the
// home folder and the current folder are byte strings that need not be
// UTF-8, and nothing of them is lost on the way.
// The folder that stands for "C:\": $WINEPREFIX/drive_c, or ~/.wine/drive_c
// when WINEPREFIX is unset. Read from the environment on every call, so tests
// may point it elsewhere.
QByteArray driveCRootBytes();
QByteArray nativePathBytes(const QString &windowsPath);
#endif

// Is this a Windows path on drive C (either letter case)?
bool isDriveCPath(const QString &windowsPath);

// Where a path on drive C lies on this machine, for a report
// ("/home/u/.wine/drive_c/Windows/Temp"). Empty on Windows, where the path
// speaks for itself, and for a path not on drive C.
QString whereOnDisk(const QString &windowsPath);

// A path as a report names it: the Windows path, and off Windows where it
// lies: "C:\Windows\Temp\game2.Gdb (which is /root/.wine/drive_c/windows/temp/game2.Gdb)".
QString reportPath(const QString &windowsPath);

} // namespace runtime
