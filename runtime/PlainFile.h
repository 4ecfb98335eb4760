#pragma once
#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <memory>

namespace runtime {

// The two things files by number do with a file, one of each per platform.
// Paths are Windows paths; every failure raises a RuntimeError that names the
// file (and, off Windows, where it lies, and why when there is more to say).
//
// Only plain files are read or replaced: a folder, a device, a FIFO or a
// socket, named directly or through links, is refused with 75, and nothing
// waits on it. A file without any write bit is read-only for every user,
// root included (70).

// The whole of an existing file. 53 no such file (a link that leads nowhere
// included), 76 no such folder, 70 not readable, 75 not a plain file or
// otherwise.
QByteArray readPlainFile(const QString &path);

// A save under way. Nothing reaches the target before commit(): dropped
// unfinished, or after a failed write or commit, the save leaves the target as
// it was and nothing beside it.
//
// The text goes to a new file beside the target that takes the old one's
// owner, group and mode and then replaces it. Where the new file could not
// keep those, or the folder takes no new file, and the target itself may be
// written, the target is written in place instead, once room for the whole
// text is reserved. Through a link the text goes to the file the link names,
// and the link stays.
//
// At the start: 76 no such folder; 70 an existing target that cannot be
// written or is read-only, or a folder that takes no new file for a target
// not there; 75 not a plain file (a link that leads nowhere included) or
// otherwise. write() and commit(): 61 when the disk fills or the file would
// outgrow the size limit, 70 or 75 when the target may no longer be replaced.
class SaveFile {
public:
    explicit SaveFile(const QString &path);
    SaveFile(SaveFile &&) noexcept;
    SaveFile &operator=(SaveFile &&) noexcept;
    ~SaveFile();

    void write(QByteArrayView bytes);
    void commit();

private:
    struct State;
    std::unique_ptr<State> d;
};

} // namespace runtime
