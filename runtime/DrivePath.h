#pragma once
#include <QString>

namespace runtime {

// The folder that stands for "C:\" off Windows: $WINEPREFIX/drive_c, or
// ~/.wine/drive_c when WINEPREFIX is unset. Read from the environment on
// every call, so tests may point it elsewhere.
QString driveCRoot();

// Turns a Windows path as the program holds it ("C:\Windows\Temp\game2.Gdb",
// or a relative "a\b.txt") into a path of this machine. On Windows the path is
// returned as it stands. Elsewhere "C:\" lies under driveCRoot(), '\'
// separates folders, and each component that does not exist with its exact
// case is matched case-insensitively against the folder's entries. A
// component that matches nothing is kept as written (so a file can be
// created). A path without a drive is relative to the current folder.
QString nativePath(const QString &windowsPath);

// Is this a Windows path on drive C (either letter case)?
bool isDriveCPath(const QString &windowsPath);

} // namespace runtime
