#pragma once
// Off Windows only: how files by number find what a Windows path names.
#include <QByteArray>
#include <QString>

#include <sys/stat.h>
#include <sys/types.h>

#include <vector>

namespace runtime::pathwalk {

// An open descriptor, closed when dropped.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(Fd &&other) noexcept : fd_(other.release()) {}
    Fd &operator=(Fd &&other) noexcept;
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    ~Fd();
    int get() const { return fd_; }
    int release();

private:
    int fd_ = -1;
};

// Where a path leads: a folder, held open, and a name in it that is no link.
// Every folder on the way was opened through the one before it, so a folder
// or link swapped in along the path later changes nothing: whatever is read,
// made or replaced is read, made or replaced relative to `folder`.
struct Place {
    Fd folder;
    QByteArray name;         // "." when the path names the folder itself
    QByteArray shownFolder;  // the folder's path, for reports
    bool dangling = false;   // `name` is a link that leads nowhere
    // The links followed to reach `name`: what is found there must still
    // belong to each link's owner, unless that is root or the user.
    struct Link {
        uid_t owner;
        QByteArray shown;
    };
    std::vector<Link> links;

    // Raises 70, naming the link and both owners, when a link followed may
    // not lead to what was found there; `path` names the file.
    void check(const struct stat &found, const QString &path) const;
    QByteArray shown() const; // the path of `name`, for reports
};

// Walks a Windows path one component at a time from its start (drive C's
// root folder, "/", or the current folder), each component matched
// case-insensitively where it does not exist as written. A link met on the
// way, drive C's root folder itself included, is followed only when it
// belongs to the user running the program, to root, or to the owner of what
// it leads to; any other is refused with 70 and a report that names the link
// and both owners. The last component's links are followed too, to the
// name they lead to. Missing or unreachable folders on the way raise 76 or
// 70. `path` names the file in reports.
Place locate(const QString &path);

// The entry of a folder that matches `name` without regard to case: the first
// in byte order when several do, so the choice never depends on the order the
// file system lists them in. Empty when none matches or the folder cannot be
// read.
QByteArray matchEntry(int folder, const QString &name);

// The report's text for a path, with a reason after it when there is one.
QString reportWithReason(const QString &path, const QString &reason);

} // namespace runtime::pathwalk
