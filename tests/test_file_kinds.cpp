// What files by number do with each kind of thing a name can stand for. Only
// plain files are read or replaced, directly or through links; a device, a
// FIFO, a socket or a folder is refused without waiting and left exactly as
// it was, and nothing is left beside it.
#include "TestSupport.h"
#include "runtime/DrivePath.h"
#include "runtime/Files.h"
#include "runtime/RuntimeError.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

namespace files = runtime::files;

namespace {

const QString kTargetWin = QStringLiteral("C:\\Games\\game.Gdb");
const QByteArray kOld("A = 1\r\nB = 2\r\n");
const QStringList kOldLines{"A = 1", "B = 2"};
const QString kNew = QStringLiteral("NEW = 1");
const QByteArray kNewBytes("NEW = 1\r\n");

QByteArray bytes(const QString &path) { return QFile::encodeName(path); }

// Every entry of the folders the cases use, by its path below drive C.
QMap<QString, QString> snapshot(const testing::Prefix &prefix)
{
    QMap<QString, QString> out;
    for (const QString folder : {QStringLiteral("Games"), QStringLiteral("Aside")})
        for (const QString &name : testing::folderEntries(prefix.path(folder)))
            out[folder + '/' + name] = testing::describe(prefix.path(folder + '/' + name));
    return out;
}

// A hang here would be forever: a generous bound ends the test instead.
struct HangGuard {
    HangGuard() { ::alarm(120); }
    ~HangGuard() { ::alarm(0); }
};

using Result = testing::FileResult;

Result readAll(const QString &path)
{
    const HangGuard guard;
    return testing::readLines(path);
}

Result writeAll(const QString &path, const QString &text)
{
    const HangGuard guard;
    return testing::writeText(path, text);
}

bool writeFile(const QString &path, const QByteArray &content, mode_t mode = 0644)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(content) == content.size()
        && ::chmod(bytes(path).constData(), mode) == 0;
}

} // namespace

class TestFileKinds : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void targetKinds_data();
    void targetKinds();
    void swappedBeforeClose_data();
    void swappedBeforeClose();
    void inputPermission_data();
    void inputPermission();

private:
    // Makes what the target name stands for; "SKIP: why" when this machine
    // cannot, another text when it failed.
    QString make(const QString &kind);

    testing::Prefix *m_prefix = nullptr;
    QString m_target, m_aside;
    int m_held = -1; // kept open while a case runs: a FIFO's ends, a socket
};

void TestFileKinds::init()
{
    m_prefix = new testing::Prefix;
    m_target = m_prefix->path(QStringLiteral("Games/game.Gdb"));
    m_aside = m_prefix->path(QStringLiteral("Aside"));
    QVERIFY(QDir().mkpath(m_prefix->path(QStringLiteral("Games"))));
    QVERIFY(QDir().mkpath(m_aside));
}

void TestFileKinds::cleanup()
{
    files::CloseAll();
    if (m_held >= 0)
        ::close(m_held);
    m_held = -1;
    delete m_prefix;
    m_prefix = nullptr;
}

QString TestFileKinds::make(const QString &kind)
{
    const QByteArray t = bytes(m_target);
    const QByteArray aside = bytes(m_aside);
    auto link = [&](const char *to) {
        return ::symlink(to, t.constData()) == 0 ? QString() : QStringLiteral("symlink: %1").arg(strerror(errno));
    };
    auto fifo = [](const QByteArray &path) {
        return ::mkfifo(path.constData(), 0644) == 0 ? QString() : QStringLiteral("mkfifo: %1").arg(strerror(errno));
    };
    if (kind == "plain file")
        return writeFile(m_target, kOld) ? QString() : QStringLiteral("cannot write the file");
    if (kind == "link to a plain file") {
        if (!writeFile(m_aside + "/real.Gdb", kOld, 0640))
            return QStringLiteral("cannot write the file");
        return link("../Aside/real.Gdb");
    }
    if (kind == "link to a character device") {
        if (!testing::isRoot())
            return QStringLiteral("SKIP: making a device node needs root");
        // The null device's numbers, in a temporary folder: /dev is never touched.
        if (::mknod(aside + "/null", S_IFCHR | 0666, makedev(1, 3)) != 0)
            return QStringLiteral("SKIP: cannot make a device node here: %1").arg(strerror(errno));
        return link("../Aside/null");
    }
    if (kind == "FIFO")
        return fifo(t);
    if (kind == "FIFO held open at both ends") {
        // With a writer there, a read of it would wait for data forever.
        if (QString e = fifo(t); !e.isEmpty())
            return e;
        m_held = ::open(t.constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        return m_held >= 0 ? QString() : QStringLiteral("open: %1").arg(strerror(errno));
    }
    if (kind == "link to a FIFO") {
        if (QString e = fifo(aside + "/pipe"); !e.isEmpty())
            return e;
        return link("../Aside/pipe");
    }
    if (kind == "link to a link to a FIFO") {
        if (QString e = fifo(aside + "/pipe"); !e.isEmpty())
            return e;
        if (::symlink("pipe", (aside + "/via").constData()) != 0)
            return QStringLiteral("symlink: %1").arg(strerror(errno));
        return link("../Aside/via");
    }
    if (kind == "socket") {
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        if (size_t(t.size()) >= sizeof addr.sun_path)
            return QStringLiteral("SKIP: the temporary folder's path is too long for a socket");
        std::memcpy(addr.sun_path, t.constData(), size_t(t.size()));
        m_held = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (m_held < 0 || ::bind(m_held, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0
            || ::listen(m_held, 1) != 0)
            return QStringLiteral("socket: %1").arg(strerror(errno));
        return {};
    }
    if (kind == "folder")
        return ::mkdir(t.constData(), 0755) == 0 ? QString() : QStringLiteral("mkdir: %1").arg(strerror(errno));
    if (kind == "link to a folder") {
        if (::mkdir(aside + "/dir", 0755) != 0)
            return QStringLiteral("mkdir: %1").arg(strerror(errno));
        return link("../Aside/dir");
    }
    if (kind == "dangling link")
        return link("../Aside/missing.Gdb");
    if (kind == "link to itself")
        return link("game.Gdb");
    return QStringLiteral("unknown kind ") + kind;
}

void TestFileKinds::targetKinds_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("output");
    QTest::addColumn<int>("number");     // 0: the operation succeeds
    QTest::addColumn<QString>("receiver"); // on success: the plain file read or written
    struct Row {
        const char *kind;
        int input, output;
        const char *receiver;
    };
    const Row rows[] = {
        {"plain file", 0, 0, "Games/game.Gdb"},
        {"link to a plain file", 0, 0, "Aside/real.Gdb"},
        {"link to a character device", 75, 75, ""},
        {"FIFO", 75, 75, ""},
        {"FIFO held open at both ends", 75, 75, ""},
        {"link to a FIFO", 75, 75, ""},
        {"link to a link to a FIFO", 75, 75, ""},
        {"socket", 75, 75, ""},
        {"folder", 75, 75, ""},
        {"link to a folder", 75, 75, ""},
        // Nothing to read; and a save must not make a file under a name
        // that nobody chose.
        {"dangling link", 53, 75, ""},
        {"link to itself", 75, 75, ""},
    };
    for (const Row &r : rows) {
        QTest::addRow("%s: input", r.kind) << r.kind << false << r.input << r.receiver;
        QTest::addRow("%s: output", r.kind) << r.kind << true << r.output << r.receiver;
    }
}

void TestFileKinds::targetKinds()
{
    QFETCH(QString, kind);
    QFETCH(bool, output);
    QFETCH(int, number);
    QFETCH(QString, receiver);
    const QString made = make(kind);
    if (made.startsWith("SKIP: "))
        QSKIP(qPrintable(made.mid(6)));
    QVERIFY2(made.isEmpty(), qPrintable(made));
    const QMap<QString, QString> before = snapshot(*m_prefix);

    const Result r = output ? writeAll(kTargetWin, kNew) : readAll(kTargetWin);

    QCOMPARE(r.number, number);
    QVERIFY(!files::isOpen(1) && !files::isOpen(4));
    QMap<QString, QString> expected = before;
    if (number == 0) {
        if (output) {
            // The text went to the plain file, which kept its mode and owner.
            QString &d = expected[receiver];
            d = d.left(d.lastIndexOf(' ') + 1) + QString::fromLatin1(kNewBytes.toPercentEncoding());
        } else {
            QCOMPARE(r.lines, kOldLines);
        }
    } else {
        // The report names the file as the program knows it, and where it lies.
        QCOMPARE(r.text, runtime::errorText(number) + QStringLiteral(": ") + kTargetWin
                             + QStringLiteral(" (which is ") + m_target + QLatin1Char(')'));
    }
    QCOMPARE(snapshot(*m_prefix), expected);
}

void TestFileKinds::swappedBeforeClose_data()
{
    // What takes the target's place between the open for output and the close.
    QTest::addColumn<QString>("swap");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("mode"); // on success: the mode the new text has
    QTest::newRow("nothing") << "nothing" << 0 << "0604";
    QTest::newRow("removed: made again as it was") << "removed" << 0 << "0604";
    QTest::newRow("another plain file: its mode") << "plain file" << 0 << "0660";
    QTest::newRow("a read-only file") << "read-only file" << 70 << "";
    QTest::newRow("a link to a plain file") << "link" << 75 << "";
    QTest::newRow("a FIFO") << "FIFO" << 75 << "";
    QTest::newRow("a folder") << "folder" << 75 << "";
}

void TestFileKinds::swappedBeforeClose()
{
    QFETCH(QString, swap);
    QFETCH(int, number);
    QFETCH(QString, mode);
    QVERIFY(writeFile(m_target, kOld, 0604));
    QVERIFY(writeFile(m_aside + "/other.Gdb", "C = 3\r\n"));
    const QByteArray t = bytes(m_target);

    files::OpenOutput(4, kTargetWin);
    files::Print(4, kNew);
    if (swap != "nothing")
        QCOMPARE(::unlink(t.constData()), 0);
    if (swap == "plain file")
        QVERIFY(writeFile(m_target, "C = 3\r\n", 0660));
    else if (swap == "read-only file")
        QVERIFY(writeFile(m_target, "C = 3\r\n", 0444));
    else if (swap == "link")
        QCOMPARE(::symlink("../Aside/other.Gdb", t.constData()), 0);
    else if (swap == "FIFO")
        QCOMPARE(::mkfifo(t.constData(), 0644), 0);
    else if (swap == "folder")
        QCOMPARE(::mkdir(t.constData(), 0755), 0);
    // All as it is now, but for the output's own new file, which must go.
    QMap<QString, QString> expected = snapshot(*m_prefix);
    expected.removeIf([](const auto &entry) { return entry.key().startsWith("Games/game.Gdb."); });

    int got = 0;
    try {
        const HangGuard guard;
        files::Close(4);
    } catch (const runtime::RuntimeError &e) {
        got = e.number();
    }

    QCOMPARE(got, number);
    QVERIFY(!files::isOpen(4));
    if (number == 0)
        expected["Games/game.Gdb"] = QStringLiteral("f %1 %2:%3 ").arg(mode).arg(::geteuid()).arg(::getegid())
                                     + QString::fromLatin1(kNewBytes.toPercentEncoding());
    // Nothing else changed, and nothing is left beside the target.
    QCOMPARE(snapshot(*m_prefix), expected);
}

void TestFileKinds::inputPermission_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<int>("number");
    QTest::newRow("readable file") << "readable" << 0;
    QTest::newRow("file without read permission") << "no read" << 70;
    QTest::newRow("folder that cannot be entered") << "closed folder" << 70;
}

void TestFileKinds::inputPermission()
{
    QFETCH(QString, what);
    QFETCH(int, number);
    // Every user may reach the folder; the file itself decides.
    for (const QString &p : {m_prefix->root(), m_prefix->driveC(), m_prefix->path("Games")})
        QCOMPARE(::chmod(bytes(p).constData(), 0755), 0);
    QVERIFY(writeFile(m_target, kOld, what == "no read" ? 0200 : 0644));
    const QString before = testing::describe(m_target);
    if (what == "closed folder")
        QCOMPARE(::chmod(bytes(m_prefix->path("Games")).constData(), 0644), 0);

    // As an unprivileged user: root reads any file.
    const int code = testing::runAsNobody([] {
        const Result r = readAll(kTargetWin);
        if (r.number == 0)
            return r.lines == kOldLines ? 0 : 1;
        return r.number;
    });

    ::chmod(bytes(m_prefix->path("Games")).constData(), 0755);
    QCOMPARE(code, number);
    QCOMPARE(testing::describe(m_target), before);
}

QTEST_GUILESS_MAIN(TestFileKinds)
#include "test_file_kinds.moc"
