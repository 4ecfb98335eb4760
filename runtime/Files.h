#pragma once
#include <QString>

namespace runtime {

// Files by number: the numbered-file table over readPlainFile() and
// SaveFile (PlainFile.h), which say what is read and replaced, and how.
// Every failure raises a RuntimeError that names the file.
namespace files {

constexpr int kMaxFileNumber = 511;

// The lowest number that no open file uses (67 Too many files if none).
int FreeFile();

// Opens an existing file for reading lines from its start (readPlainFile()).
void OpenInput(int number, const QString &path);

// Opens for output (SaveFile). Nothing reaches the target until Close(). A
// refused open leaves nothing behind.
void OpenOutput(int number, const QString &path);

// True once no further line remains to be read.
bool Eof(int number);

// The next line, without its line end. CR LF is one line end; a lone CR or a
// lone LF is part of the line; a last line without a line end is read whole.
// 62 when nothing is left.
QString LineInput(int number);

// Writes the text in the 8-bit code page, then CR LF when lineBreak is set.
// A failed write cancels the output (the target keeps its old content).
void Print(int number, const QString &text, bool lineBreak = true);

// Closes the file and frees its number. For output this commits: what was
// written replaces the target (61/70/75 when that fails, target unchanged).
void Close(int number);

// Drops every open file; outputs are cancelled, their targets unchanged.
void CloseAll();

bool isOpen(int number);

} // namespace files
} // namespace runtime
