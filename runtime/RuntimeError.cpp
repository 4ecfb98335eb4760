#include "runtime/RuntimeError.h"

namespace runtime {

QString errorText(int number)
{
    switch (number) {
    case InvalidCall: return QStringLiteral("Invalid procedure call or argument");
    case OutOfMemory: return QStringLiteral("Out of memory");
    case BadFileNumber: return QStringLiteral("Bad file name or number");
    case FileNotFound: return QStringLiteral("File not found");
    case FileAlreadyOpen: return QStringLiteral("File already open");
    case DiskFull: return QStringLiteral("Disk full");
    case InputPastEnd: return QStringLiteral("Input past end of file");
    case TooManyFiles: return QStringLiteral("Too many files");
    case PermissionDenied: return QStringLiteral("Permission denied");
    case PathFileAccess: return QStringLiteral("Path/File access error");
    case PathNotFound: return QStringLiteral("Path not found");
    default: return QStringLiteral("Application-defined or object-defined error");
    }
}

RuntimeError::RuntimeError(int number, QString detail)
    : number_(number), detail_(std::move(detail)), what_(text().toUtf8())
{
}

QString RuntimeError::text() const
{
    if (detail_.isEmpty())
        return errorText(number_);
    return errorText(number_) + QStringLiteral(": ") + detail_;
}

const char *RuntimeError::what() const noexcept { return what_.constData(); }

void raise(int number, const QString &detail) { throw RuntimeError(number, detail); }

} // namespace runtime
