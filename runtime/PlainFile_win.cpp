#include "runtime/PlainFile.h"

#include "runtime/DrivePath.h"
#include "runtime/RuntimeError.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace runtime {
namespace {

[[noreturn]] void fail(int number, const QString &path) { raise(number, reportPath(path)); }

bool folderExists(const QString &native)
{
    const QFileInfo info(native);
    return QFileInfo(info.absolutePath()).isDir();
}

} // namespace

QByteArray readPlainFile(const QString &path)
{
    const QString native = nativePath(path);
    const QFileInfo info(native);
    if (!info.exists())
        fail(folderExists(native) ? FileNotFound : PathNotFound, path);
    if (!info.isFile())
        fail(PathFileAccess, path);
    QFile file(native);
    if (!file.open(QIODevice::ReadOnly))
        fail(file.error() == QFileDevice::PermissionsError ? PermissionDenied : PathFileAccess, path);
    QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        fail(PathFileAccess, path);
    return data;
}

// QSaveFile drops what it wrote unless it was committed.
struct SaveFile::State {
    QString path;
    QSaveFile out;

    explicit State(const QString &p) : path(p), out(nativePath(p)) {}
};

SaveFile::SaveFile(const QString &path)
{
    const QString native = nativePath(path);
    if (!folderExists(native))
        fail(PathNotFound, path);
    const QFileInfo info(native);
    if (info.exists() && !info.isFile())
        fail(PathFileAccess, path);
    // The new file replaces the target by renaming over it, which a
    // read-only target would not stop: refuse it here.
    if (info.exists() && !info.isWritable())
        fail(PermissionDenied, path);
    d = std::make_unique<State>(path);
    // Unbuffered, so the count each write returns is what reached the file.
    if (!d->out.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        fail(d->out.error() == QFileDevice::PermissionsError ? PermissionDenied : PathFileAccess, path);
}

SaveFile::SaveFile(SaveFile &&) noexcept = default;
SaveFile &SaveFile::operator=(SaveFile &&) noexcept = default;
SaveFile::~SaveFile() = default;

// All of it or a failure: QSaveFile::write() returns a short count without an
// error when the disk fills part-way.
void SaveFile::write(QByteArrayView bytes)
{
    const qint64 n = d->out.write(bytes.data(), bytes.size());
    if (n == bytes.size())
        return;
    const bool full = n >= 0 || d->out.error() == QFileDevice::ResourceError;
    d->out.cancelWriting();
    fail(full ? DiskFull : PathFileAccess, d->path);
}

void SaveFile::commit()
{
    if (!d->out.commit())
        fail(PathFileAccess, d->path);
}

} // namespace runtime
