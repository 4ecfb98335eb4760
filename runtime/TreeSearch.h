#pragma once
#include <QList>

namespace runtime {

// The size of the output buffer SearchTreeForFile writes into (MAX_PATH).
constexpr int kMaxPath = 260;

// Searches the folder tree under rootPath for a file named inputPathName and
// writes the full Windows path of the first match, NUL-terminated, into
// outputPathBuffer, which holds kMaxPath bytes. All three are 8-bit
// (Windows-1252) NUL-terminated texts; rootPath is a Windows path such as
// "C:\". Returns nonzero when a file was found, zero when not; on a miss the
// buffer's content is unspecified but nothing is written past kMaxPath bytes.
//
// The walk is deterministic: a folder's own files are matched before its
// sub-folders are entered, sub-folders are taken in case-insensitive name
// order, and the name matches case-insensitively. Folders that cannot be read
// are skipped, links to folders are not followed, and a path that would not
// fit the buffer (259 bytes and its NUL) is passed over.
int SearchTreeForFile(const char *rootPath, const char *inputPathName, char *outputPathBuffer);

namespace treesearch {

// The folder readers the walk can run over; SearchTreeForFile uses the first
// one of readers(). The others are here for the tests and the bench.
enum class Reader {
#ifndef _WIN32
    Readdir,        // readdir, with the entry type it hands over
    ReaddirUntyped, // readdir, every type asked of fstatat, as where none is handed over
#endif
    Filesystem,     // std::filesystem
};

QList<Reader> readers();
const char *name(Reader reader);

// SearchTreeForFile over the given reader.
int searchWith(Reader reader, const char *rootPath, const char *inputPathName, char *outputPathBuffer);

} // namespace treesearch

} // namespace runtime
