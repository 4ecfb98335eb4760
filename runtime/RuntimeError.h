#pragma once
#include <QString>
#include <exception>

namespace runtime {

// The classic run-time error numbers that the error report shows.
enum ErrorNumber : int {
    InvalidCall = 5,       // Invalid procedure call or argument
    OutOfMemory = 7,
    BadFileNumber = 52,
    FileNotFound = 53,
    FileAlreadyOpen = 55,
    DiskFull = 61,
    InputPastEnd = 62,
    TooManyFiles = 67,
    PermissionDenied = 70,
    PathFileAccess = 75,   // Path/File access error
    PathNotFound = 76,
};

// The standard text of an error number ("File not found", ...).
QString errorText(int number);

// A run-time error: the number, and the detail that names what failed
// (usually the file concerned).
class RuntimeError : public std::exception {
public:
    RuntimeError(int number, QString detail = {});
    int number() const { return number_; }
    // The error's text as the report shows it: "File not found: C:\x\game.Gdb".
    QString text() const;
    const char *what() const noexcept override;

private:
    int number_;
    QString detail_;
    QByteArray what_;
};

[[noreturn]] void raise(int number, const QString &detail = {});

} // namespace runtime
