#include "runtime/TreeSearch.h"

#include "runtime/CodePage.h"
#include "runtime/DrivePath.h"

#include <QString>
#include <QStringDecoder>

#include <algorithm>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <type_traits>
#include <vector>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace runtime {
namespace {

constexpr int kLongestPath = kMaxPath - 1; // bytes before the closing NUL

enum class Kind { File, Folder, Link, Other };

// What a folder reader offers the walk (Folder below stands for one):
//   Folder::Char                 the unit of native names
//   explicit operator bool()     the folder could be opened
//   bool next(Name &, Kind &)    the next entry but "." and ".."; false at the
//                                end, or where the listing fails half-way
//   Folder child(name)           a sub-folder by its native name, not through a link
//   bool leadsToFile(name)       does this link lead to a regular file?
// A name from next() stays valid until the next call.

#ifndef _WIN32

// readdir hands over each entry's type, so files are told from folders
// without a stat per entry; typed false asks fstatat for every one, as a file
// system that hands over none makes it. (Calling getdents64 directly saved
// 7 to 9 % of the search in the bench: not worth a record type of our own.)
class DirentFolder {
public:
    using Char = char;

    static DirentFolder root(const QByteArray &native, bool typed)
    {
        return DirentFolder(::open(native.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC), typed);
    }
    DirentFolder(const DirentFolder &) = delete;
    DirentFolder &operator=(const DirentFolder &) = delete;
    ~DirentFolder()
    {
        if (m_dir)
            ::closedir(m_dir);
    }

    explicit operator bool() const { return m_dir != nullptr; }

    bool next(std::string_view &name, Kind &kind)
    {
        while (const dirent *e = ::readdir(m_dir)) {
            name = e->d_name;
            if (name == "." || name == "..")
                continue;
            if (m_typed && e->d_type != DT_UNKNOWN) {
                kind = e->d_type == DT_REG ? Kind::File
                    : e->d_type == DT_DIR  ? Kind::Folder
                    : e->d_type == DT_LNK  ? Kind::Link
                                           : Kind::Other;
                return true;
            }
            struct stat st;
            if (::fstatat(::dirfd(m_dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                continue; // gone since it was listed
            kind = S_ISREG(st.st_mode) ? Kind::File
                : S_ISDIR(st.st_mode)  ? Kind::Folder
                : S_ISLNK(st.st_mode)  ? Kind::Link
                                       : Kind::Other;
            return true;
        }
        return false;
    }

    DirentFolder child(const std::string &name) const
    {
        return DirentFolder(::openat(::dirfd(m_dir), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC),
                            m_typed);
    }

    bool leadsToFile(const std::string &name) const
    {
        struct stat st;
        return ::fstatat(::dirfd(m_dir), name.c_str(), &st, 0) == 0 && S_ISREG(st.st_mode);
    }

private:
    DirentFolder(int fd, bool typed) : m_dir(fd >= 0 ? ::fdopendir(fd) : nullptr), m_typed(typed)
    {
        if (fd >= 0 && !m_dir)
            ::close(fd);
    }

    DIR *m_dir;
    bool m_typed;
};

#endif

namespace fs = std::filesystem;

class FilesystemFolder {
public:
    using Char = fs::path::value_type;

    static FilesystemFolder root(const fs::path &native) { return FilesystemFolder(native); }

    explicit operator bool() const { return m_opened; }

    bool next(std::basic_string_view<Char> &name, Kind &kind)
    {
        for (; !m_error && m_it != fs::directory_iterator(); m_it.increment(m_error)) {
            // Asked in this order, the type comes from the listing where the
            // system hands it over, without a stat; a link is never followed.
            std::error_code error;
            const fs::directory_entry &entry = *m_it;
            if (entry.is_symlink(error))
                kind = Kind::Link;
            else if (!error && entry.is_regular_file(error))
                kind = Kind::File;
            else if (!error && entry.is_directory(error))
                kind = isReparsePoint(entry.path()) ? Kind::Link : Kind::Folder;
            else
                kind = Kind::Other;
            if (error)
                continue; // gone since it was listed
            m_name = entry.path().filename().native();
            name = m_name;
            m_it.increment(m_error);
            return true;
        }
        return false;
    }

    FilesystemFolder child(const std::basic_string<Char> &name) const { return FilesystemFolder(m_path / name); }

    bool leadsToFile(const std::basic_string<Char> &name) const
    {
        std::error_code error;
        return fs::status(m_path / name, error).type() == fs::file_type::regular;
    }

private:
    explicit FilesystemFolder(fs::path path) : m_path(std::move(path)), m_it(m_path, m_error), m_opened(!m_error) {}

    // Junctions, mount points and every other reparse point lead elsewhere, as
    // a link does; not every library reports them as links.
    static bool isReparsePoint([[maybe_unused]] const fs::path &path)
    {
#ifdef _WIN32
        const DWORD attributes = ::GetFileAttributesW(path.c_str());
        return attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
#else
        return false;
#endif
    }

    fs::path m_path;
    std::error_code m_error;
    fs::directory_iterator m_it;
    bool m_opened;
    std::basic_string<Char> m_name;
};

bool isAscii(std::string_view name)
{
    return std::all_of(name.begin(), name.end(), [](char c) { return (c & ~0x7F) == 0; });
}

// An entry's name as the program spells it, in the code page. False when it
// has no exact spelling there (not valid UTF-8, or a character the code page
// lacks): a path built from it would not lead back to the entry.
class NameReader {
public:
    bool read(std::string_view name, QString &text)
    {
        if (isAscii(name)) {
            text = QLatin1StringView(name.data(), qsizetype(name.size()));
            return true;
        }
        text.resize(m_utf8.requiredSpace(qsizetype(name.size())));
        m_utf8.resetState();
        const QChar *end = m_utf8.appendToBuffer(text.data(), QByteArrayView(name.data(), qsizetype(name.size())));
        text.truncate(end - text.constData());
        return !m_utf8.hasError() && roundTrips(text);
    }

#ifdef _WIN32
    bool read(std::wstring_view name, QString &text)
    {
        text = QString::fromWCharArray(name.data(), qsizetype(name.size()));
        return roundTrips(text);
    }
#endif

    // Can a native name of this length spell a text of that many characters
    // (all of them ASCII, if so)? In UTF-8 a character of the code page takes
    // one to three bytes, an ASCII one exactly one.
    static bool mayHaveLength(std::string_view name, qsizetype chars, bool ascii)
    {
        return ascii ? name.size() == size_t(chars) : name.size() >= size_t(chars) && name.size() <= 3 * size_t(chars);
    }
#ifdef _WIN32
    static bool mayHaveLength(std::wstring_view name, qsizetype chars, bool) { return name.size() == size_t(chars); }
#endif

private:
    bool roundTrips(const QString &text)
    {
        m_bytes.resize(text.size());
        return fromAnsi(QByteArrayView(m_bytes.data(), toAnsi(text, m_bytes.data()))) == text;
    }

    QByteArray m_bytes;
    // A name that begins with U+FEFF keeps it.
    QStringDecoder m_utf8{QStringDecoder::Utf8, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom};
};

// Case-insensitive order, the way QString::compare(Qt::CaseInsensitive)
// folds; names equal but for case in the code page's byte order.
bool nameBefore(const QString &a, const QString &b)
{
    if (const int c = a.compare(b, Qt::CaseInsensitive))
        return c < 0;
    return toAnsi(a) < toAnsi(b);
}

template <class Folder>
class Walk {
public:
    // root is the Windows path of the folder the walk starts in, with its '\'.
    Walk(const QString &root, const QString &target)
        : m_path(root), m_target(target),
          m_asciiTarget(std::all_of(target.begin(), target.end(), [](QChar c) { return c.unicode() < 0x80; }))
    {
        m_path.reserve(kMaxPath);
    }

    // Searches folder, whose Windows path is in path(). On a match, path()
    // holds the file's path.
    bool walk(Folder &folder);
    const QString &path() const { return m_path; }

private:
    using Native = std::basic_string<typename Folder::Char>;
    struct Entry {
        Native name;
        QString text;
        bool link;
    };
    static bool before(const Entry &a, const Entry &b) { return nameBefore(a.text, b.text); }

    QString m_path;
    const QString m_target;
    // Only ASCII names match an ASCII target: no other character of the code
    // page folds to ASCII.
    const bool m_asciiTarget;
    NameReader m_names;
};

template <class Folder>
bool Walk<Folder>::walk(Folder &folder)
{
    // Every folder entered has room for the target's name below it, so each
    // hit fits the buffer.
    std::vector<Entry> hits, subs;
    std::basic_string_view<typename Folder::Char> name;
    Kind kind;
    QString text;
    while (folder.next(name, kind)) {
        if (kind == Kind::File || kind == Kind::Link) {
            if (NameReader::mayHaveLength(name, m_target.size(), m_asciiTarget) && m_names.read(name, text)
                && text.compare(m_target, Qt::CaseInsensitive) == 0)
                hits.push_back({Native(name), text, kind == Kind::Link});
        } else if (kind == Kind::Folder) {
            // A '\' in a folder's name would read back as two folders.
            if (m_names.read(name, text) && m_path.size() + text.size() + 1 + m_target.size() <= kLongestPath
                && !text.contains(u'\\'))
                subs.push_back({Native(name), text, false});
        }
    }

    // The folder's own files first; of names equal but for case, the first
    // in byte order.
    std::sort(hits.begin(), hits.end(), before);
    for (const Entry &hit : hits) {
        if (!hit.link || folder.leadsToFile(hit.name)) {
            m_path += hit.text;
            return true;
        }
    }

    std::sort(subs.begin(), subs.end(), before);
    const qsizetype pathLen = m_path.size();
    for (const Entry &sub : subs) {
        Folder child = folder.child(sub.name);
        if (!child)
            continue; // unreadable, or gone since it was listed
        m_path += sub.text;
        m_path += u'\\';
        if (walk(child))
            return true;
        m_path.truncate(pathLen);
    }
    return false;
}

template <class Folder>
bool search(Folder &&root, const QString &path, const QString &target, char *out)
{
    if (!root)
        return false;
    Walk<std::remove_reference_t<Folder>> walk(path, target);
    if (!walk.walk(root))
        return false;
    out[toAnsi(walk.path(), out)] = 0;
    return true;
}

bool isSeparator(char c)
{
    return c == '\\' || c == '/';
}

} // namespace

namespace treesearch {

QList<Reader> readers()
{
#ifdef _WIN32
    return {Reader::Filesystem};
#else
    return {Reader::Readdir, Reader::ReaddirUntyped, Reader::Filesystem};
#endif
}

const char *name(Reader reader)
{
    switch (reader) {
#ifndef _WIN32
    case Reader::Readdir: return "readdir";
    case Reader::ReaddirUntyped: return "readdir untyped";
#endif
    case Reader::Filesystem: return "filesystem";
    }
    return "";
}

int searchWith(Reader reader, const char *rootPath, const char *inputPathName, char *outputPathBuffer)
{
    if (!rootPath || !inputPathName || !outputPathBuffer)
        return 0;
    const QByteArrayView targetBytes(inputPathName);
    if (targetBytes.isEmpty() || targetBytes.size() > kLongestPath)
        return 0;
    if (std::any_of(targetBytes.begin(), targetBytes.end(), isSeparator))
        return 0; // a file name, not a path
    const QString target = fromAnsi(targetBytes);

    // The root as given, with exactly one '\' between its components and one
    // after the last.
    const QByteArrayView rootBytes(rootPath);
    if (rootBytes.isEmpty())
        return 0;
    QString path;
    if (isSeparator(rootBytes.front()))
        path += u'\\';
    QString given = fromAnsi(rootBytes);
    given.replace(u'/', u'\\');
    for (const QString &part : given.split(u'\\', Qt::SkipEmptyParts))
        path += part + u'\\';
    if (path.size() + target.size() > kLongestPath)
        return 0;

    // The root is opened by its tidied path: on Windows "C:" alone would name
    // drive C's current folder, not its root. Elsewhere it stays bytes: the
    // prefix it lies under need not be UTF-8.
#ifdef _WIN32
    const fs::path native(nativePath(path).toStdWString());
#else
    const QByteArray native = nativePathBytes(path);
#endif
    bool found = false;
    switch (reader) {
#ifndef _WIN32
    case Reader::Readdir:
    case Reader::ReaddirUntyped:
        found = search(DirentFolder::root(native, reader == Reader::Readdir), path, target, outputPathBuffer);
        break;
    case Reader::Filesystem:
        found = search(FilesystemFolder::root(fs::path(native.toStdString())), path, target, outputPathBuffer);
        break;
#else
    case Reader::Filesystem:
        found = search(FilesystemFolder::root(native), path, target, outputPathBuffer);
        break;
#endif
    }
    return found ? 1 : 0;
}

} // namespace treesearch

int SearchTreeForFile(const char *rootPath, const char *inputPathName, char *outputPathBuffer)
{
    return treesearch::searchWith(treesearch::readers().front(), rootPath, inputPathName, outputPathBuffer);
}

} // namespace runtime
