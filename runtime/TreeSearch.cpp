#include "runtime/TreeSearch.h"

#include "runtime/CodePage.h"
#include "runtime/DrivePath.h"

#include <QChar>
#include <QString>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

// On Linux the walk reads folders with getdents64 directly: it hands back each
// entry's type, so files are told from folders without a stat per entry, and
// it needs no DIR allocation per folder. Elsewhere (and on Linux when
// VELTRANE_PORTABLE_TREE_SEARCH is defined, so the tests can run it) a plain
// std::filesystem walk keeps the same order and rules.
#if defined(__linux__) && !defined(VELTRANE_PORTABLE_TREE_SEARCH)
#define VELTRANE_TREE_SEARCH_GETDENTS 1
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#else
#define VELTRANE_TREE_SEARCH_GETDENTS 0
#include <filesystem>
#include <system_error>
#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif
#endif

namespace runtime {
namespace {

constexpr int kLongestPath = kMaxPath - 1; // bytes before the closing NUL

// Code page knowledge the walk needs, built once from CodePage itself so the
// two can never disagree.
struct Tables {
    char16_t fold[256];     // case-folded UTF-16 unit of each byte
    unsigned char low[256]; // code point below 0x100 -> byte, 0 when not in the code page
    char16_t high[32];      // bytes 80..9F as UTF-16, for code points above 0xFF

    Tables()
    {
        QByteArray all(256, Qt::Uninitialized);
        for (int b = 0; b < 256; ++b)
            all[b] = char(b);
        const QString text = fromAnsi(all);
        std::memset(low, 0, sizeof low);
        for (int b = 0; b < 256; ++b) {
            const char16_t u = text[b].unicode();
            fold[b] = QChar::toCaseFolded(u);
            if (u < 0x100)
                low[u] = static_cast<unsigned char>(b);
        }
        for (int i = 0; i < 32; ++i)
            high[i] = text[0x80 + i].unicode();
    }

    int byteFor(char32_t cp) const
    {
        if (cp < 0x100)
            return low[cp] || cp == 0 ? low[cp] : -1;
        if (cp < 0x10000)
            for (int i = 0; i < 32; ++i)
                if (high[i] == cp)
                    return 0x80 + i;
        return -1;
    }
};

const Tables &tables()
{
    static const Tables t;
    return t;
}

// Strict UTF-8 -> Windows-1252. False when the name is not valid UTF-8 or
// holds a character the code page lacks: such a name could not be written
// back to the same file, so the walk passes it over.
bool toCodePage(const unsigned char *s, size_t len, std::string &out)
{
    const Tables &t = tables();
    out.clear();
    size_t i = 0;
    while (i < len) {
        const unsigned char c = s[i];
        char32_t cp;
        size_t extra;
        if (c < 0x80) {
            out.push_back(char(c));
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            cp = c & 0x1F;
            extra = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            cp = c & 0x0F;
            extra = 2;
        } else if (c >= 0xF0 && c <= 0xF4) {
            cp = c & 0x07;
            extra = 3;
        } else {
            return false;
        }
        if (i + extra >= len)
            return false;
        for (size_t k = 1; k <= extra; ++k) {
            const unsigned char cc = s[i + k];
            if ((cc & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        if ((extra == 2 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)))
            return false;
        const int b = t.byteFor(cp);
        if (b < 0)
            return false;
        out.push_back(char(b));
        i += extra + 1;
    }
    return true;
}

// Case-insensitive order of two Windows-1252 names, the way
// QString::compare(Qt::CaseInsensitive) orders them; equal ones by byte value.
bool folderBefore(const unsigned char *a, size_t alen, const unsigned char *b, size_t blen)
{
    const char16_t *fold = tables().fold;
    const size_t n = std::min(alen, blen);
    for (size_t i = 0; i < n; ++i)
        if (fold[a[i]] != fold[b[i]])
            return fold[a[i]] < fold[b[i]];
    if (alen != blen)
        return alen < blen;
    return std::memcmp(a, b, n) < 0;
}

// The file name searched for, case-folded once.
struct TargetName {
    int len;
    bool ascii; // every case-insensitive match of an ASCII name is ASCII of the same length
    char16_t fold[kMaxPath];

    TargetName(const char *target, int targetLen) : len(targetLen), ascii(true)
    {
        const char16_t *f = tables().fold;
        for (int i = 0; i < targetLen; ++i) {
            const auto c = static_cast<unsigned char>(target[i]);
            fold[i] = f[c];
            ascii = ascii && c < 0x80;
        }
    }

    // Is this Windows-1252 name the target, but for case?
    bool matches(const unsigned char *text, size_t textLen) const
    {
        const char16_t *f = tables().fold;
        if (textLen != size_t(len))
            return false;
        for (int i = 0; i < len; ++i)
            if (f[text[i]] != fold[i])
                return false;
        return true;
    }
    bool matches(const std::string &text) const
    {
        return matches(reinterpret_cast<const unsigned char *>(text.data()), text.size());
    }
};

#if VELTRANE_TREE_SEARCH_GETDENTS

struct linux_dirent64 {
    uint64_t d_ino;
    int64_t d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[];
};
constexpr size_t kNameOffset = offsetof(linux_dirent64, d_name);

class Walker {
public:
    Walker(const char *target, int targetLen)
        : m_target(target, targetLen), m_targetLen(targetLen), m_dents(new char[kDentsSize])
    {
        m_names.reserve(1 << 16);
        m_subs.reserve(1024);
    }

    char m_path[kMaxPath]; // the Windows path of the folder being read, with its '\'

    // Searches the folder open on fd whose Windows path fills m_path up to
    // pathLen. On a match m_path holds the file's path, NUL-terminated.
    bool walk(int fd, int pathLen);

private:
    struct Sub {
        uint32_t name; // native name in m_names, NUL-terminated
        uint32_t text; // Windows-1252 name in m_names
        uint32_t textLen;
    };
    struct Hit {
        std::string name, text;
        bool link;
    };

    static constexpr size_t kDentsSize = 64 * 1024;

    bool matches(const unsigned char *name, size_t room);
    void addFolder(const char *name, size_t len, int pathLen);

    const TargetName m_target;
    int m_targetLen;
    std::unique_ptr<char[]> m_dents;
    std::vector<char> m_names; // stack of the pending folders' names, level by level
    std::vector<Sub> m_subs;
    std::vector<Hit> m_hits;
    std::string m_text;
};

// Does this entry name (room bytes or more readable) match the target?
bool Walker::matches(const unsigned char *name, size_t room)
{
    if (m_target.ascii) {
        // The native name is the Windows-1252 one when it is ASCII.
        if (size_t(m_targetLen) >= room || name[m_targetLen] != 0)
            return false;
        return m_target.matches(name, size_t(m_targetLen));
    }
    const size_t len = std::strlen(reinterpret_cast<const char *>(name));
    if (len < size_t(m_targetLen) || len > size_t(m_targetLen) * 3)
        return false;
    return toCodePage(name, len, m_text) && m_target.matches(m_text);
}

void Walker::addFolder(const char *name, size_t len, int pathLen)
{
    // A folder is worth entering only if the target's name still fits below it.
    // (A UTF-8 name is at most three times as long as its Windows-1252 text.)
    if (pathLen + (len + 2) / 3 + 1 + m_targetLen > size_t(kLongestPath))
        return;
    bool ascii = true;
    for (size_t i = 0; i < len; ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        if (c == '\\')
            return; // would read back as two components
        ascii = ascii && c < 0x80;
    }
    const uint32_t at = uint32_t(m_names.size());
    m_names.insert(m_names.end(), name, name + len + 1);
    Sub sub{at, at, uint32_t(len)};
    if (!ascii) {
        if (!toCodePage(reinterpret_cast<const unsigned char *>(name), len, m_text))
            return m_names.resize(at);
        sub.text = uint32_t(m_names.size());
        sub.textLen = uint32_t(m_text.size());
        m_names.insert(m_names.end(), m_text.begin(), m_text.end());
    }
    if (pathLen + sub.textLen + 1 + m_targetLen > size_t(kLongestPath))
        return m_names.resize(at);
    m_subs.push_back(sub);
}

bool Walker::walk(int fd, int pathLen)
{
    const size_t subBase = m_subs.size();
    const size_t nameBase = m_names.size();
    m_hits.clear();

    char *const buf = m_dents.get();
    for (;;) {
        const long got = ::syscall(SYS_getdents64, fd, buf, kDentsSize);
        if (got <= 0)
            break; // the end, or a folder that fails half-way: keep what was read
        for (long off = 0; off < got;) {
            const auto *e = reinterpret_cast<const linux_dirent64 *>(buf + off);
            off += e->d_reclen;
            const char *name = e->d_name;
            if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
                continue;
            unsigned char type = e->d_type;
            const size_t room = e->d_reclen - kNameOffset;
            if (type == DT_UNKNOWN) {
                struct stat st;
                if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                    continue;
                type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : S_ISLNK(st.st_mode) ? DT_LNK : DT_UNKNOWN;
            }
            if (type == DT_REG || type == DT_LNK) {
                if (matches(reinterpret_cast<const unsigned char *>(name), room)) {
                    Hit hit{name, {}, type == DT_LNK};
                    hit.text = m_target.ascii ? hit.name : m_text;
                    m_hits.push_back(std::move(hit));
                }
            } else if (type == DT_DIR) {
                addFolder(name, std::strlen(name), pathLen);
            }
        }
    }

    // The folder's own files first. Names that differ only in case all fit or
    // all don't; the first in byte order wins.
    if (!m_hits.empty() && pathLen + m_targetLen <= kLongestPath) {
        std::sort(m_hits.begin(), m_hits.end(), [](const Hit &a, const Hit &b) { return a.text < b.text; });
        for (const Hit &hit : m_hits) {
            if (hit.link) {
                struct stat st;
                if (::fstatat(fd, hit.name.c_str(), &st, 0) != 0 || !S_ISREG(st.st_mode))
                    continue;
            }
            std::memcpy(m_path + pathLen, hit.text.data(), hit.text.size());
            m_path[pathLen + hit.text.size()] = 0;
            return true;
        }
    }

    const auto first = m_subs.begin() + subBase;
    std::sort(first, m_subs.end(), [this](const Sub &a, const Sub &b) {
        const auto *base = reinterpret_cast<const unsigned char *>(m_names.data());
        return folderBefore(base + a.text, a.textLen, base + b.text, b.textLen);
    });
    for (size_t k = subBase; k < m_subs.size(); ++k) {
        const Sub sub = m_subs[k]; // the vector grows while the child is walked
        const int child = ::openat(fd, m_names.data() + sub.name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (child < 0)
            continue; // unreadable, or gone since it was listed
        std::memcpy(m_path + pathLen, m_names.data() + sub.text, sub.textLen);
        m_path[pathLen + sub.textLen] = '\\';
        const bool found = walk(child, pathLen + int(sub.textLen) + 1);
        ::close(child);
        if (found)
            return true;
    }
    m_subs.resize(subBase);
    m_names.resize(nameBase);
    return false;
}

// Searches the folder whose Windows path fills path up to pathLen, which
// native names on this machine; on a match path holds the file's path,
// NUL-terminated.
bool searchFolder(const QByteArray &nativeRoot, char *path, int pathLen, const char *target, int targetLen)
{
    Walker walker(target, targetLen);
    std::memcpy(walker.m_path, path, size_t(pathLen));
    const int fd = ::open(nativeRoot.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool found = walker.walk(fd, pathLen);
    ::close(fd);
    if (found)
        std::memcpy(path, walker.m_path, std::strlen(walker.m_path) + 1);
    return found;
}

#else

namespace fs = std::filesystem;

// An entry's name in Windows-1252; false when it has no exact spelling there.
bool nameText(const fs::path &name, std::string &out)
{
#ifdef _WIN32
    const Tables &t = tables();
    out.clear();
    for (const wchar_t u : name.native()) {
        const int b = t.byteFor(char32_t(u)); // a surrogate has no byte either
        if (b <= 0)
            return false;
        out.push_back(char(b));
    }
    return true;
#else
    const std::string &s = name.native();
    return toCodePage(reinterpret_cast<const unsigned char *>(s.data()), s.size(), out);
#endif
}

// Junctions, mount points and every other reparse point lead elsewhere, as a
// link does; not every library reports them as links.
bool isReparsePoint([[maybe_unused]] const fs::path &path)
{
#ifdef _WIN32
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
#else
    return false;
#endif
}

class PortableWalker {
public:
    PortableWalker(const char *target, int targetLen) : m_target(target, targetLen), m_targetLen(targetLen) {}

    char m_path[kMaxPath]; // as Walker::m_path

    bool walk(const fs::path &dir, int pathLen);

private:
    struct Entry {
        std::string text; // Windows-1252 name
        fs::path path;
        bool link;
    };

    const TargetName m_target;
    int m_targetLen;
    std::string m_text;
};

bool PortableWalker::walk(const fs::path &dir, int pathLen)
{
    std::vector<Entry> hits, subs;
    std::error_code ec;
    const fs::directory_iterator end;
    // A folder that cannot be opened lists nothing; one that fails half-way
    // keeps what was read.
    for (fs::directory_iterator it(dir, fs::directory_options::skip_permission_denied, ec); !ec && it != end;
         it.increment(ec)) {
        // Asked in this order, the entry's type comes from the listing where
        // the system hands it over, without a stat; a link is never followed.
        std::error_code typeError;
        const bool link = it->is_symlink(typeError);
        const bool file = link || (!typeError && it->is_regular_file(typeError));
        const bool folder = !file && !typeError && it->is_directory(typeError);
        if (typeError || (!file && !folder))
            continue; // gone since it was listed, or neither file nor folder
        if (!nameText(it->path().filename(), m_text))
            continue;
        if (file) {
            if (m_target.matches(m_text))
                hits.push_back({m_text, it->path(), link});
        } else if (pathLen + m_text.size() + 1 + m_targetLen <= size_t(kLongestPath)
                   && m_text.find('\\') == std::string::npos && !isReparsePoint(it->path())) {
            subs.push_back({m_text, it->path(), false});
        }
    }

    if (!hits.empty() && pathLen + m_targetLen <= kLongestPath) {
        std::sort(hits.begin(), hits.end(), [](const Entry &a, const Entry &b) { return a.text < b.text; });
        for (const Entry &hit : hits) {
            if (hit.link && fs::status(hit.path, ec).type() != fs::file_type::regular)
                continue;
            std::memcpy(m_path + pathLen, hit.text.data(), hit.text.size());
            m_path[pathLen + hit.text.size()] = 0;
            return true;
        }
    }

    std::sort(subs.begin(), subs.end(), [](const Entry &a, const Entry &b) {
        return folderBefore(reinterpret_cast<const unsigned char *>(a.text.data()), a.text.size(),
                            reinterpret_cast<const unsigned char *>(b.text.data()), b.text.size());
    });
    for (const Entry &sub : subs) {
        std::memcpy(m_path + pathLen, sub.text.data(), sub.text.size());
        m_path[pathLen + sub.text.size()] = '\\';
        if (walk(sub.path, pathLen + int(sub.text.size()) + 1))
            return true;
    }
    return false;
}

// As the getdents searchFolder.
#ifdef _WIN32
bool searchFolder(const QString &native, char *path, int pathLen, const char *target, int targetLen)
#else
bool searchFolder(const QByteArray &native, char *path, int pathLen, const char *target, int targetLen)
#endif
{
    PortableWalker walker(target, targetLen);
    std::memcpy(walker.m_path, path, size_t(pathLen));
#ifdef _WIN32
    const fs::path root(native.toStdWString());
#else
    const fs::path root(native.toStdString());
#endif
    if (!walker.walk(root, pathLen))
        return false;
    std::memcpy(path, walker.m_path, std::strlen(walker.m_path) + 1);
    return true;
}

#endif

bool isSeparator(char c)
{
    return c == '\\' || c == '/';
}

} // namespace

int SearchTreeForFile(const char *rootPath, const char *inputPathName, char *outputPathBuffer)
{
    if (!rootPath || !inputPathName || !outputPathBuffer)
        return 0;
    const size_t targetLen = std::strlen(inputPathName);
    if (targetLen == 0 || targetLen > size_t(kLongestPath))
        return 0;
    for (size_t i = 0; i < targetLen; ++i)
        if (isSeparator(inputPathName[i]))
            return 0; // a file name, not a path

    // The root as given, with exactly one '\' between its components and one
    // after the last.
    char path[kMaxPath];
    int pathLen = 0;
    const size_t rootLen = std::strlen(rootPath);
    if (rootLen == 0)
        return 0;
    if (isSeparator(rootPath[0]))
        path[pathLen++] = '\\';
    for (size_t i = 0; i < rootLen;) {
        while (i < rootLen && isSeparator(rootPath[i]))
            ++i;
        const size_t start = i;
        while (i < rootLen && !isSeparator(rootPath[i]))
            ++i;
        if (i == start)
            break;
        if (pathLen + (i - start) + 1 + targetLen > size_t(kLongestPath))
            return 0;
        std::memcpy(path + pathLen, rootPath + start, i - start);
        pathLen += int(i - start);
        path[pathLen++] = '\\';
    }

    // The root is opened by its tidied path: on Windows "C:" alone would name
    // drive C's current folder, not its root. Elsewhere it stays bytes: the
    // prefix it lies under need not be UTF-8.
#ifdef _WIN32
    const QString nativeRoot = nativePath(fromAnsi(QByteArrayView(path, pathLen)));
#else
    const QByteArray nativeRoot = nativePathBytes(fromAnsi(QByteArrayView(path, pathLen)));
#endif
    if (!searchFolder(nativeRoot, path, pathLen, inputPathName, int(targetLen)))
        return 0;
    std::memcpy(outputPathBuffer, path, std::strlen(path) + 1);
    return 1;
}

} // namespace runtime
