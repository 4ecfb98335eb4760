#pragma once
#include <QString>

namespace runtime {

// Files by number. Paths are Windows paths, resolved through nativePathBytes()
// (nativePath() on Windows).
// Every failure raises a RuntimeError that names the file (and, off Windows,
// where it lies).
//
// Only plain files are read or replaced: a folder, a device, a FIFO or a
// socket, named directly or through links, is refused with 75, and nothing
// waits on it. A file without any write bit is read-only for every user,
// root included (70).
namespace files {

constexpr int kMaxFileNumber = 511;

// The lowest number that no open file uses (67 Too many files if none).
int FreeFile();

// Opens an existing file for reading lines from its start.
// 53 no such file (a link that leads nowhere included), 76 no such folder,
// 70 not readable, 75 not a plain file or otherwise.
void OpenInput(int number, const QString &path);

// Opens for output. Nothing reaches the target until Close(): the text goes
// to a new file beside it that replaces it only once all of it is written and
// flushed. Through a link the text goes to the file the link names, and the
// link stays. The new file takes the old one's owner, group and mode; a new
// target gets the usual mode for a new file. 76 no such folder, 70 an
// existing target that cannot be written, is read-only, or would change
// owner; 75 not a plain file (a link that leads nowhere included) or
// otherwise. A refused open leaves nothing behind.
void OpenOutput(int number, const QString &path);

// True once no further line remains to be read.
bool Eof(int number);

// The next line, without its line end. CR LF is one line end; a lone CR or a
// lone LF is part of the line; a last line without a line end is read whole.
// 62 when nothing is left.
QString LineInput(int number);

// Writes the text in the 8-bit code page, then CR LF when lineBreak is set.
// A short write cancels the output (the target keeps its old content) and
// raises 61.
void Print(int number, const QString &text, bool lineBreak = true);

// Closes the file and frees its number. For output this commits: what was
// written replaces the target (61/70/75 when that fails, target unchanged),
// after the target is checked again as at the open.
void Close(int number);

// Drops every open file; outputs are cancelled, their targets unchanged.
void CloseAll();

bool isOpen(int number);

} // namespace files
} // namespace runtime
