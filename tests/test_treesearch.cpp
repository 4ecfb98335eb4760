// SearchTreeForFile over small trees under a private Wine prefix: which file it
// reports, what it passes over, and that it keeps to the 260-byte buffer; the
// table runs over every folder reader the walk can use.
#include "runtime/CodePage.h"
#include "runtime/DrivePath.h"
#include "runtime/TreeSearch.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using runtime::kMaxPath;
using runtime::treesearch::Reader;

namespace {

constexpr int kGuard = 32;
constexpr char kGuardByte = char(0xA5);

struct Outcome {
    int result = 0;
    QByteArray buffer; // kMaxPath bytes and the guard after them
    bool skipped = false; // no unprivileged user to search as
    bool died = false;    // the search did not come back
};

Outcome searchHere(Reader reader, const QByteArray &root, const QByteArray &name)
{
    Outcome o;
    o.buffer = QByteArray(kMaxPath + kGuard, kGuardByte);
    std::memset(o.buffer.data(), ' ', kMaxPath); // as the caller hands it over
    o.result = runtime::treesearch::searchWith(reader, root.constData(), name.constData(), o.buffer.data());
    return o;
}

bool writeAll(int fd, const void *data, size_t size)
{
    const char *p = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n <= 0)
            return false;
        p += n;
        size -= size_t(n);
    }
    return true;
}

// The same search by a user the permission bits apply to: as root (CI) a
// forked child gives up root for nobody first.
Outcome searchUnprivileged(Reader reader, const QByteArray &root, const QByteArray &name)
{
    Outcome o;
    if (::geteuid() != 0)
        return searchHere(reader, root, name);
    int fds[2];
    if (::pipe(fds) != 0)
        return o.skipped = true, o;
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return o.skipped = true, o;
    }
    if (pid == 0) {
        ::close(fds[0]);
        int rc = -1000;
        if (::setgroups(0, nullptr) == 0 && ::setresgid(65534, 65534, 65534) == 0 && ::setresuid(65534, 65534, 65534) == 0) {
            const Outcome child = searchHere(reader, root, name);
            rc = child.result;
            writeAll(fds[1], &rc, sizeof rc);
            writeAll(fds[1], child.buffer.constData(), size_t(child.buffer.size()));
        } else {
            writeAll(fds[1], &rc, sizeof rc);
        }
        ::_exit(0);
    }
    ::close(fds[1]);
    QByteArray got;
    char chunk[512];
    ssize_t n;
    while ((n = ::read(fds[0], chunk, sizeof chunk)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0)
            got.append(chunk, n);
    ::close(fds[0]);
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0
        || got.size() < int(sizeof(int)))
        return o.died = true, o;
    std::memcpy(&o.result, got.constData(), sizeof(int));
    if (o.result == -1000)
        return o.skipped = true, o;
    o.buffer = got.mid(sizeof(int));
    return o;
}

} // namespace

class TestTreeSearch : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void search_data();
    void search();
    void badArguments_data();
    void badArguments();
    void firstReader();

private:
    QString makeTree(const QList<QByteArray> &tree, QList<QByteArray> &locked);

    QTemporaryDir m_tmp;
    int m_rows = 0;
};

void TestTreeSearch::initTestCase()
{
    QVERIFY(m_tmp.isValid());
    // The unprivileged child must be able to reach the trees.
    QVERIFY(::chmod(QFile::encodeName(m_tmp.path()).constData(), 0755) == 0);
}

void TestTreeSearch::cleanupTestCase()
{
    // Byte-wise, for the names QDir cannot spell.
    std::error_code ec;
    std::filesystem::remove_all(std::filesystem::path(QFile::encodeName(m_tmp.path()).toStdString()), ec);
}

// Builds one tree from lines "f:path" (file), "d:path" (folder), "l:path>target"
// (symbolic link), "p:path" (named pipe) and "x:path" (folder nobody may
// read). Paths are native bytes, relative to drive_c unless they start with
// "<T>/" (the row's own folder, outside the drive); "<C>" in a link target is
// drive_c.
QString TestTreeSearch::makeTree(const QList<QByteArray> &tree, QList<QByteArray> &locked)
{
    const QByteArray rowDir = QFile::encodeName(m_tmp.path()) + "/row" + QByteArray::number(++m_rows);
    const QByteArray drive = rowDir + "/drive_c";
    auto place = [&](QByteArray path) {
        if (path.startsWith("<T>/"))
            return rowDir + path.mid(3);
        return drive + '/' + path;
    };
    auto mkdirs = [](const QByteArray &path) {
        for (qsizetype at = 1; at <= path.size(); ++at)
            if (at == path.size() || path[at] == '/') {
                const QByteArray part = path.left(at);
                if (::mkdir(part.constData(), 0755) == 0)
                    ::chmod(part.constData(), 0755);
            }
    };
    mkdirs(drive);
    for (const QByteArray &line : tree) {
        const char kind = line[0];
        QByteArray path = line.mid(2);
        QByteArray target;
        if (kind == 'l') {
            target = path.mid(path.indexOf('>') + 1).replace("<C>", drive).replace("<T>", rowDir);
            path.truncate(path.indexOf('>'));
        }
        const QByteArray full = place(path);
        const QByteArray parent = full.left(full.lastIndexOf('/'));
        mkdirs(parent);
        switch (kind) {
        case 'f': { // raw bytes: some names are not UTF-8
            const int fd = ::open(full.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd < 0 || ::write(fd, "x\r\n", 3) != 3)
                qFatal("cannot create %s", full.constData());
            ::close(fd);
            break;
        }
        case 'd':
        case 'x':
            mkdirs(full);
            if (kind == 'x')
                locked.append(full);
            break;
        case 'l':
            if (::symlink(target.constData(), full.constData()) != 0)
                qFatal("cannot link %s", full.constData());
            break;
        case 'p':
            if (::mkfifo(full.constData(), 0644) != 0)
                qFatal("cannot make pipe %s", full.constData());
            break;
        }
    }
    for (const QByteArray &dir : locked)
        ::chmod(dir.constData(), 0);
    return QFile::decodeName(rowDir);
}

void TestTreeSearch::search_data()
{
    QTest::addColumn<int>("reader");
    QTest::addColumn<QList<QByteArray>>("tree");
    QTest::addColumn<QByteArray>("root");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("expected"); // empty: not found

    using L = QList<QByteArray>;
    struct Row {
        const char *tag;
        L tree;
        QByteArray root, name, expected;
    };
    const QByteArray g = "game.Gdb", drive = "C:\\", none;
    const QByteArray a120(120, 'a'), b126(126, 'b'), c127(127, 'c');

    const Row rows[] = {
        {"found deep down", L{"f:Games/Apex Circuit Racing/UserData/Profiles/Main/game.Gdb", "f:Games/other.txt"}, drive, g, QByteArray("C:\\Games\\Apex Circuit Racing\\UserData\\Profiles\\Main\\game.Gdb")},
        {"no match", L{"f:Games/game.Gd", "f:Games/game.Gdbx", "f:Games/agame.Gdb", "f:game.Gdb.bak", "d:Empty"}, drive, g, none},
        {"empty drive", L{}, drive, g, none},
        {"other letter case on disk", L{"f:Games/Apex/GAME.GDB"}, drive, g, QByteArray("C:\\Games\\Apex\\GAME.GDB")},
        {"target in another case", L{"f:Games/Apex/game.Gdb"}, drive, QByteArray("GAME.gdb"), QByteArray("C:\\Games\\Apex\\game.Gdb")},

        // Which of two matches: always the same, by the walk's order.
        {"own files before sub-folders", L{"f:a/deep/game.Gdb", "f:a/game.Gdb"}, drive, g, QByteArray("C:\\a\\game.Gdb")},
        {"drive's own file first", L{"f:a/game.Gdb", "f:game.Gdb"}, drive, g, QByteArray("C:\\game.Gdb")},
        {"a whole sub-folder before the next", L{"f:b/game.Gdb", "f:a/b/c/game.Gdb"}, drive, g, QByteArray("C:\\a\\b\\c\\game.Gdb")},
        {"folders in case-insensitive order", L{"f:Games/game.Gdb", "f:apps/game.Gdb"}, drive, g, QByteArray("C:\\apps\\game.Gdb")},
        {"case-insensitive order, not byte order", L{"f:aB/game.Gdb", "f:a_/game.Gdb"}, drive, g, QByteArray("C:\\a_\\game.Gdb")},
        {"shorter name first", L{"f:ab/game.Gdb", "f:a/game.Gdb"}, drive, g, QByteArray("C:\\a\\game.Gdb")},
        {"folders equal but for case: byte order", L{"f:sub/game.Gdb", "f:Sub/game.Gdb"}, drive, g, QByteArray("C:\\Sub\\game.Gdb")},
        {"files equal but for case: byte order", L{"f:x/game.gdb", "f:x/GAME.gdb", "f:x/Game.Gdb", "f:x/GAME.GDB", "f:x/gAME.GDB", "f:x/game.Gdb"}, drive, g, QByteArray("C:\\x\\GAME.GDB")},
        {"non-ASCII folders fold case", L{"f:\xC3\x81" "bd/game.Gdb", "f:\xC3\xA1" "bc/game.Gdb"}, // "Ábd", "ábc"
         drive, g, QByteArray("C:\\\xE1" "bc\\game.Gdb")},

        // Root forms.
        {"root with forward slash", L{"f:game.Gdb"}, QByteArray("c:/"), g, QByteArray("c:\\game.Gdb")},
        {"root without backslash", L{"f:game.Gdb"}, QByteArray("C:"), g, QByteArray("C:\\game.Gdb")},
        {"root below the drive, doubled backslashes", L{"f:Games/Apex/game.Gdb", "f:game.Gdb"}, QByteArray("C:\\\\Games\\\\Apex\\"), g, QByteArray("C:\\Games\\Apex\\game.Gdb")},
        {"root in other case kept as given", L{"f:Games/Apex/Data/game.Gdb"}, QByteArray("C:\\GAMES\\apex"), g, QByteArray("C:\\GAMES\\apex\\Data\\game.Gdb")},
        {"missing root", L{"f:game.Gdb"}, QByteArray("C:\\Nowhere"), g, none},

        // Only regular files count.
        {"folder of that name", L{"d:game.Gdb", "f:game.Gdb/readme.txt"}, drive, g, none},
        {"file inside a folder of that name", L{"f:a/game.Gdb/game.Gdb"}, drive, g, QByteArray("C:\\a\\game.Gdb\\game.Gdb")},
        {"link to a file counts", L{"f:real.dat", "l:a/game.Gdb>../real.dat"}, drive, g, QByteArray("C:\\a\\game.Gdb")},
        {"dangling link passed over", L{"l:a/game.Gdb>nowhere", "f:b/game.Gdb"}, drive, g, QByteArray("C:\\b\\game.Gdb")},
        {"pipe of that name passed over, link to it too", L{"p:a/game.Gdb", "p:pipe", "l:b/game.Gdb>../pipe", "f:c/game.Gdb"}, drive, g, QByteArray("C:\\c\\game.Gdb")},
        {"link to a folder of that name passed over", L{"d:z", "l:a/game.Gdb><C>/z", "f:b/game.Gdb"}, drive, g, QByteArray("C:\\b\\game.Gdb")},

        // Links to folders are never followed.
        {"loop to an ancestor", L{"l:a/b/up>..", "l:a/loop><C>", "f:a/z/game.Gdb"}, drive, g, QByteArray("C:\\a\\z\\game.Gdb")},
        {"loop, no match", L{"l:a/loop><C>", "l:a/self>.", "f:a/other.txt"}, drive, g, none},
        {"link out of the root", L{"f:<T>/outside/game.Gdb", "l:outside><T>/outside"}, drive, g, none},

        // Names that could not be written back exactly.
        {"folder name outside the code page", L{"f:\xE6\x97\xA5\xE6\x9C\xAC/game.Gdb", "f:zz/game.Gdb"}, drive, g, QByteArray("C:\\zz\\game.Gdb")},
        {"only match under such a folder", L{"f:\xE6\x97\xA5\xE6\x9C\xAC/game.Gdb"}, drive, g, none},
        {"folder name not UTF-8", L{"f:\xE9t\xE9/game.Gdb", "f:zz/game.Gdb"}, drive, g, QByteArray("C:\\zz\\game.Gdb")},
        {"backslash in a folder name", L{"f:a\\b/game.Gdb", "f:c/game.Gdb"}, drive, g, QByteArray("C:\\c\\game.Gdb")},
        {"code page folder converted", L{"f:Caf\xC3\xA9 \xE2\x82\xAC/game.Gdb"}, drive, g, QByteArray("C:\\Caf\xE9 \x80\\game.Gdb")},
        {"non-ASCII target, other case", L{"f:d/\xC3\x89T\xC3\x89.GDB"}, drive, QByteArray("\xE9t\xE9.gdb"), QByteArray("C:\\d\\\xC9T\xC9.GDB")},
        {"folder name led by a byte order mark", L{"f:\xEF\xBB\xBFzz/game.Gdb"}, drive, g, none},
        {"file name not UTF-8, non-ASCII target", L{"f:\xE9t\xE9.gdb", "f:z/\xC3\xA9t\xC3\xA9.gdb"}, drive,
         QByteArray("\xE9t\xE9.gdb"), QByteArray("C:\\z\\\xE9t\xE9.gdb")},
        {"target of three-byte characters", L{"f:d/\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC"}, drive, QByteArray("\x80\x80\x80"),
         QByteArray("C:\\d\\\x80\x80\x80")},
        {"y diaeresis both cases", L{"f:\xC5\xB8.GDB"}, drive, QByteArray("\xFF.gdb"), QByteArray("C:\\\x9F.GDB")},

        // The 260-byte buffer: 259 bytes of path and the NUL.
        {"path of 259 bytes fits", L{"f:" + a120 + '/' + b126 + "/game.Gdb"}, drive, g, "C:\\" + a120 + '\\' + b126 + "\\game.Gdb"},
        {"path of 260 bytes passed over, shorter one found", L{"f:" + a120 + '/' + c127 + "/game.Gdb", "f:z/game.Gdb"}, drive, g, QByteArray("C:\\z\\game.Gdb")},
        {"path of 260 bytes, nothing else", L{"f:" + a120 + '/' + c127 + "/game.Gdb"}, drive, g, none},
        {"long UTF-8 name, short in the code page", L{"f:" + QByteArray("\xC3\xA9").repeated(120) + '/' + b126 + "/game.Gdb"}, drive, g, "C:\\" + QByteArray("\xE9").repeated(120) + '\\' + b126 + "\\game.Gdb"},
        {"folder far past the limit not entered", L{"f:" + a120 + '/' + QByteArray(250, 'd') + "/e/game.Gdb", "f:z/game.Gdb"}, drive, g, QByteArray("C:\\z\\game.Gdb")},
        {"root alone too long", L{"f:" + a120 + '/' + c127 + "/game.Gdb"}, "C:\\" + a120 + '\\' + c127, g, none},

        // Folders the user may not read.
        {"unreadable folder skipped, match elsewhere", L{"f:a/game.Gdb", "x:a", "f:b/game.Gdb"}, drive, g, QByteArray("C:\\b\\game.Gdb")},
        {"only match in an unreadable folder", L{"f:a/b/game.Gdb", "x:a/b", "f:a/c.txt"}, drive, g, none},
    };
    // Every row over every folder reader.
    for (const Reader reader : runtime::treesearch::readers())
        for (const Row &row : rows)
            QTest::addRow("%s [%s]", row.tag, runtime::treesearch::name(reader))
                << int(reader) << row.tree << row.root << row.name << row.expected;
}

void TestTreeSearch::search()
{
    QFETCH(int, reader);
    QFETCH(QList<QByteArray>, tree);
    QFETCH(QByteArray, root);
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, expected);

    QList<QByteArray> locked;
    const QString rowDir = makeTree(tree, locked);
    qputenv("WINEPREFIX", QFile::encodeName(rowDir));
    const auto unlock = qScopeGuard([&] {
        for (const QByteArray &dir : locked)
            ::chmod(dir.constData(), 0755);
    });

    for (int round = 0; round < 2; ++round) { // the same answer every time
        const Outcome o = locked.isEmpty() ? searchHere(Reader(reader), root, name)
                                           : searchUnprivileged(Reader(reader), root, name);
        if (o.skipped)
            QSKIP("cannot run the search as an unprivileged user");
        QVERIFY2(!o.died, "the search as an unprivileged user died");
        QCOMPARE(o.buffer.size(), kMaxPath + kGuard);
        QCOMPARE(o.buffer.mid(kMaxPath), QByteArray(kGuard, kGuardByte));
        if (expected.isEmpty()) {
            QCOMPARE(o.result, 0);
            continue;
        }
        QVERIFY(o.result != 0);
        const qsizetype nul = o.buffer.indexOf('\0');
        QVERIFY(nul >= 0 && nul < kMaxPath);
        QCOMPARE(o.buffer.left(nul), expected);
        // The path reported leads back to that very file.
        const QFileInfo found(runtime::nativePath(runtime::fromAnsi(expected)));
        QVERIFY2(found.isFile(), qPrintable(found.filePath()));
        QCOMPARE(found.fileName().compare(runtime::fromAnsi(name), Qt::CaseInsensitive), 0);
    }
}

void TestTreeSearch::badArguments_data()
{
    QTest::addColumn<QByteArray>("root");
    QTest::addColumn<QByteArray>("name");
    QTest::newRow("empty name") << QByteArray("C:\\") << QByteArray();
    QTest::newRow("empty root") << QByteArray() << QByteArray("game.Gdb");
    QTest::newRow("name with a folder") << QByteArray("C:\\") << QByteArray("a\\game.Gdb");
    QTest::newRow("name longer than a path") << QByteArray("C:\\") << QByteArray(300, 'n');
}

void TestTreeSearch::badArguments()
{
    QFETCH(QByteArray, root);
    QFETCH(QByteArray, name);
    QList<QByteArray> locked;
    qputenv("WINEPREFIX", QFile::encodeName(makeTree({"f:game.Gdb", "f:a/game.Gdb"}, locked)));
    for (const Reader reader : runtime::treesearch::readers()) {
        const Outcome o = searchHere(reader, root, name);
        QCOMPARE(o.result, 0);
        QCOMPARE(o.buffer.mid(kMaxPath), QByteArray(kGuard, kGuardByte));
    }
}

// The program's search is the walk over the first reader.
void TestTreeSearch::firstReader()
{
    QList<QByteArray> locked;
    qputenv("WINEPREFIX", QFile::encodeName(makeTree({"f:b/game.Gdb", "f:a/GAME.GDB"}, locked)));
    char buffer[kMaxPath];
    QCOMPARE(runtime::SearchTreeForFile("C:\\", "game.Gdb", buffer), 1);
    QCOMPARE(QByteArray(buffer), QByteArray("C:\\a\\GAME.GDB"));
    const Outcome first = searchHere(runtime::treesearch::readers().front(), "C:\\", "game.Gdb");
    QCOMPARE(first.buffer.left(first.buffer.indexOf('\0')), QByteArray(buffer));
}

QTEST_APPLESS_MAIN(TestTreeSearch)
#include "test_treesearch.moc"
