// Whose rights a read or a save uses. Run as root on a prefix that belongs
// to uid 65534, links planted by 65534 lead nowhere that 65534 could not
// reach itself; the links of the prefix's own owner and of root are
// followed. Run as 65534, every file that user may write is saved, in place
// where the new file could not be what the old one was, and the others are
// refused with the reason.
#include "TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <cstring>
#include <functional>

#include <sys/stat.h>
#include <unistd.h>


namespace {

constexpr uid_t kOwner = 65534; // the prefix's owner
const QString kDataWin = QStringLiteral("C:\\Games\\Torvana\\game.Gdb");
const QString kBackupWin = QStringLiteral("C:\\Windows\\Temp\\game2.Gdb");
const QByteArray kData("LAPS = 12\r\n");
const QByteArray kSecret("ROOT ONLY = 1\r\n");
const QByteArray kMine("OWNER = 1\r\n");
const QString kNew = QStringLiteral("NEW = 1");
const QByteArray kNewBytes("NEW = 1\r\n");

QByteArray bytes(const QString &path) { return QFile::encodeName(path); }

using Result = testing::FileResult;
using testing::readLines;
using testing::writeText;

QString put(const QString &path, const QByteArray &content, mode_t mode, uid_t uid, gid_t gid)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(content) != content.size())
        return QStringLiteral("cannot write %1").arg(path);
    f.close();
    if (::chown(bytes(path).constData(), uid, gid) != 0 || ::chmod(bytes(path).constData(), mode) != 0)
        return QStringLiteral("chown/chmod %1: %2").arg(path, strerror(errno));
    return {};
}

QString makeFolder(const QString &path, mode_t mode, uid_t uid, gid_t gid)
{
    if (!QDir().mkpath(path) || ::chown(bytes(path).constData(), uid, gid) != 0
        || ::chmod(bytes(path).constData(), mode) != 0)
        return QStringLiteral("cannot make the folder %1: %2").arg(path, strerror(errno));
    return {};
}

QString link(const QString &to, const QString &at, uid_t owner)
{
    if (::symlink(bytes(to).constData(), bytes(at).constData()) != 0
        || ::lchown(bytes(at).constData(), owner, owner) != 0)
        return QStringLiteral("cannot link %1: %2").arg(at, strerror(errno));
    return {};
}

// Every entry below `root`, links not followed, by its path below it.
QMap<QString, QString> snapshot(const QString &root, const QString &key)
{
    QMap<QString, QString> out;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        out[key + path.mid(root.size())] = testing::describe(path);
    }
    return out;
}

// An entry's description with new content, its kind, mode and owner kept.
QString withContent(const QString &described, const QByteArray &content)
{
    return described.left(described.lastIndexOf(' ') + 1) + QString::fromLatin1(content.toPercentEncoding());
}

} // namespace

class TestFileRights : public QObject {
    Q_OBJECT
private slots:
    void init() { ::umask(022); }
    void plantedLinks_data();
    void plantedLinks();
    void whoMaySave_data();
    void whoMaySave();
};

void TestFileRights::plantedLinks_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<bool>("asOwner"); // run as the prefix's owner rather than root
    QTest::addColumn<int>("read");     // the numbers of the read, the save and the backup
    QTest::addColumn<int>("save");
    QTest::addColumn<int>("backup");
    QTest::addColumn<QString>("dataFile"); // the file the data path leads to: T/... in the tree, O/... outside
    QTest::addColumn<QString>("backupFile");
    struct Row {
        const char *name;
        const char *setup;
        bool asOwner;
        int read, save, backup;
        const char *dataFile, *backupFile;
    };
    const Row rows[] = {
        {"the backup's name to a root-only file", "backup link", false, 0, 0, 70, "T/Games/Torvana/game.Gdb", ""},
        {"the Temp folder to a root-only folder", "temp link", false, 0, 0, 70, "T/Games/Torvana/game.Gdb", ""},
        {"game.Gdb to a root-only file", "data link", false, 70, 70, 0, "", "T/windows/temp/game2.Gdb"},
        {"game.Gdb swapped for such a link after the load", "data link later", false, 0, 70, 0,
         "T/Games/Torvana/game.Gdb", "T/windows/temp/game2.Gdb"},
        {"drive C itself to a root-only folder", "drive link", false, 70, 70, 70, "", ""},
        // The text goes to the folder that was checked, wherever it is now.
        {"the data folder swapped for a link to a root-only folder during the save", "folder swap", false, 0, 0, 0,
         "T/Games/Moved/game.Gdb", "T/windows/temp/game2.Gdb"},
        {"game.Gdb to a root's link to a root-only file", "chain", false, 70, 70, 0, "", "T/windows/temp/game2.Gdb"},
        {"game.Gdb to a file of the owner's own", "own file", false, 0, 0, 0, "O/mine/real.Gdb",
         "T/windows/temp/game2.Gdb"},
        {"a root-owned link to a root-only file", "root link", false, 0, 0, 0, "O/secret/secret.Gdb",
         "T/windows/temp/game2.Gdb"},
        // As Wine links the user folders into the home folder.
        {"the data folder linked to the owner's folder, as root", "own folder", false, 0, 0, 0,
         "O/mine/Torvana/game.Gdb", "T/windows/temp/game2.Gdb"},
        {"the data folder linked to the owner's folder, as its owner", "own folder", true, 0, 0, 0,
         "O/mine/Torvana/game.Gdb", "T/windows/temp/game2.Gdb"},
    };
    for (const Row &r : rows)
        QTest::newRow(r.name) << r.setup << r.asOwner << r.read << r.save << r.backup << r.dataFile << r.backupFile;
}

void TestFileRights::plantedLinks()
{
    QFETCH(QString, setup);
    QFETCH(bool, asOwner);
    QFETCH(int, read);
    QFETCH(int, save);
    QFETCH(int, backup);
    QFETCH(QString, dataFile);
    QFETCH(QString, backupFile);
    if (!testing::isRoot())
        QSKIP("planting another user's links needs root");

    // The tree: drive C and all below it belong to the prefix's owner.
    testing::Prefix prefix;
    const QString tree = prefix.driveC();
    QTemporaryDir outsideDir;
    const QString outside = outsideDir.path();
    auto fromTree = [&](const QString &rel) { return tree + '/' + rel; };
    QVERIFY(::chmod(bytes(prefix.root()).constData(), 0755) == 0);
    for (const QString &f : {QStringLiteral(""), QStringLiteral("Games"), QStringLiteral("Games/Torvana"),
                             QStringLiteral("windows"), QStringLiteral("windows/temp")})
        QCOMPARE(makeFolder(fromTree(f), 0755, kOwner, kOwner), QString());
    QCOMPARE(put(fromTree("Games/Torvana/game.Gdb"), kData, 0644, kOwner, kOwner), QString());
    // Outside it: root's own, and the owner's own.
    QCOMPARE(makeFolder(outside, 0755, 0, 0), QString());
    QCOMPARE(makeFolder(outside + "/secret", 0700, 0, 0), QString());
    QCOMPARE(put(outside + "/secret/secret.Gdb", kSecret, 0640, 0, 0), QString());
    QCOMPARE(makeFolder(outside + "/secret/drive/Games/Torvana", 0755, 0, 0), QString());
    QCOMPARE(makeFolder(outside + "/secret/drive/windows/temp", 0755, 0, 0), QString());
    QCOMPARE(put(outside + "/secret/drive/Games/Torvana/game.Gdb", kSecret, 0640, 0, 0), QString());
    QCOMPARE(makeFolder(outside + "/mine/Torvana", 0755, kOwner, kOwner), QString());
    QCOMPARE(::chown(bytes(outside + "/mine").constData(), kOwner, kOwner), 0);
    QCOMPARE(put(outside + "/mine/real.Gdb", kMine, 0644, kOwner, kOwner), QString());
    QCOMPARE(put(outside + "/mine/Torvana/game.Gdb", kMine, 0644, kOwner, kOwner), QString());
    QCOMPARE(link(outside + "/secret/secret.Gdb", outside + "/root-link", 0), QString());

    const QString data = fromTree("Games/Torvana/game.Gdb");
    auto replaceData = [&](const QString &to, uid_t owner) {
        return QFile::remove(data) ? link(to, data, owner) : QStringLiteral("cannot remove %1").arg(data);
    };
    QString made;
    if (setup == "backup link")
        made = link(outside + "/secret/secret.Gdb", fromTree("windows/temp/game2.Gdb"), kOwner);
    else if (setup == "temp link")
        made = QDir(fromTree("windows/temp")).removeRecursively()
                   ? link(outside + "/secret", fromTree("windows/temp"), kOwner)
                   : QStringLiteral("cannot remove the Temp folder");
    else if (setup == "data link")
        made = replaceData(outside + "/secret/secret.Gdb", kOwner);
    else if (setup == "drive link")
        made = QDir(tree).removeRecursively() ? link(outside + "/secret/drive", tree, kOwner)
                                              : QStringLiteral("cannot remove drive C");
    else if (setup == "chain")
        made = replaceData(outside + "/root-link", kOwner);
    else if (setup == "own file")
        made = replaceData(outside + "/mine/real.Gdb", kOwner);
    else if (setup == "root link")
        made = replaceData(outside + "/secret/secret.Gdb", 0);
    else if (setup == "own folder")
        made = QDir(fromTree("Games/Torvana")).removeRecursively()
                   ? link(outside + "/mine/Torvana", fromTree("Games/Torvana"), kOwner)
                   : QStringLiteral("cannot remove the data folder");
    QVERIFY2(made.isEmpty(), qPrintable(made));

    auto all = [&] {
        QMap<QString, QString> m = snapshot(tree, "T");
        m.insert(snapshot(outside, "O"));
        return m;
    };
    const QMap<QString, QString> before = all();

    const testing::Outcome o = testing::inChild(
        [&]() -> QString {
            testing::Checks checks;
            const Result r = readLines(kDataWin);
            checks.check(r.number == read, qPrintable(QStringLiteral("read: %1 %2").arg(r.number).arg(r.text)),
                         __LINE__);
            if (r.number == 0)
                CHECK(r.lines == QStringList{dataFile.startsWith("O/mine") ? "OWNER = 1"
                                             : dataFile.startsWith("O/secret") ? "ROOT ONLY = 1"
                                                                                : "LAPS = 12"});
            if (setup == "data link later") {
                const QString why = replaceData(outside + "/secret/secret.Gdb", kOwner);
                if (!why.isEmpty())
                    return why;
            }
            QString swapped;
            const Result s = writeText(kDataWin, kNew, [&] {
                if (setup == "folder swap")
                    swapped = ::rename(bytes(fromTree("Games/Torvana")).constData(),
                                       bytes(fromTree("Games/Moved")).constData())
                                      == 0
                                  ? link(outside + "/secret", fromTree("Games/Torvana"), kOwner)
                                  : QStringLiteral("rename: %1").arg(strerror(errno));
            });
            if (!swapped.isEmpty())
                return swapped;
            checks.check(s.number == save, qPrintable(QStringLiteral("save: %1 %2").arg(s.number).arg(s.text)),
                         __LINE__);
            const Result b = writeText(kBackupWin, kNew);
            checks.check(b.number == backup, qPrintable(QStringLiteral("backup: %1 %2").arg(b.number).arg(b.text)),
                         __LINE__);
            // A refusal names the link and the two owners.
            for (const Result *x : {&r, &s, &b})
                if (x->number == 70)
                    CHECK(x->text.contains("the link ") && x->text.contains("user 65534")
                          && x->text.contains("user 0"));
            return checks.result();
        },
        asOwner);
    if (o.skipped())
        QSKIP(qPrintable(o.text));
    QVERIFY2(o.code == 0, qPrintable(o.text));

    // Only the files the paths may lead to changed, keeping kind, mode and
    // owner; nothing was made anywhere else.
    QMap<QString, QString> expected = before;
    if (setup == "data link later")
        expected["T/Games/Torvana/game.Gdb"] = testing::describe(data);
    if (setup == "folder swap") {
        expected["T/Games/Moved"] = expected.take("T/Games/Torvana");
        expected["T/Games/Moved/game.Gdb"] = expected.take("T/Games/Torvana/game.Gdb");
        expected["T/Games/Torvana"] = testing::describe(fromTree("Games/Torvana"));
    }
    if (save == 0)
        expected[dataFile] = withContent(expected[dataFile], kNewBytes);
    if (backup == 0) {
        const uid_t runner = asOwner ? kOwner : 0;
        expected[backupFile] = withContent(expected.value(backupFile, QStringLiteral("f 0644 %1:%1 ").arg(runner)),
                                           kNewBytes);
    }
    const QMap<QString, QString> after = all();
    for (auto it = after.begin(); it != after.end(); ++it)
        QVERIFY2(expected.value(it.key()) == it.value(),
                 qPrintable(QStringLiteral("%1: %2, expected %3").arg(it.key(), it.value(), expected.value(it.key()))));
    QCOMPARE(after.keys(), expected.keys());
}

void TestFileRights::whoMaySave_data()
{
    // The data file and its folder as set up, and who saves: 65534 (with
    // its groups), or root on a file system that gives no file away.
    QTest::addColumn<QString>("file");   // "uid:gid mode", or "none"
    QTest::addColumn<QString>("folder"); // "uid:gid mode"
    QTest::addColumn<QList<gid_t>>("groups");
    QTest::addColumn<bool>("root");
    QTest::addColumn<QString>("outcome"); // "replaced", "in place", or the refusal's reason
    const QList<gid_t> none;
    const QString own = QStringLiteral("65534:65534 0755");
    const QString closed = QStringLiteral("0:0 0755");
    QTest::newRow("own file, own folder") << "65534:65534 0644" << own << none << false << "replaced";
    QTest::newRow("own file, group root, 0644") << "65534:0 0644" << own << none << false << "in place";
    QTest::newRow("own file, group root, 0664") << "65534:0 0664" << own << none << false << "in place";
    QTest::newRow("another member's file in a shared set-group-id folder")
        << "1000:100 0664" << "0:100 2775" << QList<gid_t>{100} << false << "in place";
    QTest::newRow("own file, folder not writable") << "65534:65534 0644" << closed << none << false << "in place";
    QTest::newRow("root's 0666 file, folder not writable") << "0:0 0666" << closed << none << false << "in place";
    QTest::newRow("root's 0666 file in own folder") << "0:0 0666" << own << none << false << "in place";
    QTest::newRow("root, the user's file, no file given away") << "65534:65534 0644" << own << none << true << "in place";
    QTest::newRow("own read-only file 0444") << "65534:65534 0444" << own << none << false << "the file is read-only";
    QTest::newRow("root's 0644 file in own folder")
        << "0:0 0644" << own << none << false << "this user may not write the file";
    QTest::newRow("root's 0644 file, folder not writable")
        << "0:0 0644" << closed << none << false << "this user may write neither the file nor its folder";
    QTest::newRow("no file, folder not writable")
        << "none" << closed << none << false << "this user may not make a file in the folder";
}

void TestFileRights::whoMaySave()
{
    QFETCH(QString, file);
    QFETCH(QString, folder);
    QFETCH(QList<gid_t>, groups);
    QFETCH(bool, root);
    QFETCH(QString, outcome);
    if (!testing::isRoot())
        QSKIP("setting up other users' files needs root");

    testing::Prefix prefix;
    const QString dir = prefix.path("Games/Torvana");
    const QString data = dir + "/game.Gdb";
    auto attributes = [](const QString &setting, uid_t &uid, gid_t &gid, mode_t &mode) {
        const QStringList parts = setting.split(QRegularExpression("[: ]"));
        uid = parts[0].toUInt();
        gid = parts[1].toUInt();
        mode = parts[2].toUInt(nullptr, 8);
    };
    uid_t uid;
    gid_t gid;
    mode_t mode;
    // Every user may reach the folder; it and the file decide.
    QVERIFY(QDir().mkpath(prefix.path("Games")));
    for (const QString &p : {prefix.root(), prefix.driveC(), prefix.path("Games")})
        QCOMPARE(::chmod(bytes(p).constData(), 0755), 0);
    attributes(folder, uid, gid, mode);
    QCOMPARE(makeFolder(dir, mode, uid, gid), QString());
    if (file != "none") {
        attributes(file, uid, gid, mode);
        QCOMPARE(put(data, kData, mode, uid, gid), QString());
    }
    struct stat before {};
    const bool existed = ::stat(bytes(data).constData(), &before) == 0;
    const QStringList entries = testing::folderEntries(dir);

    const testing::Outcome o = testing::inChild(
        [&]() -> QString {
            if (root) {
                const QString why = testing::refuseChown();
                if (!why.isEmpty())
                    return why;
            }
            const Result r = writeText(kDataWin, kNew);
            const bool saved = outcome == "replaced" || outcome == "in place";
            if (saved && r.number != 0)
                return QStringLiteral("refused: %1").arg(r.text);
            if (!saved && (r.number != 70 || !r.text.endsWith(": " + outcome)))
                return QStringLiteral("expected 70 with \"%1\", got %2: %3").arg(outcome).arg(r.number).arg(r.text);
            return {};
        },
        !root, std::vector<gid_t>(groups.begin(), groups.end()));
    QVERIFY2(o.code == 0, qPrintable(o.text));

    // The file: the new text, or the old one; its owner, group and mode as
    // before; the same inode unless it was replaced; nothing left beside it.
    struct stat after {};
    QCOMPARE(::stat(bytes(data).constData(), &after) == 0, existed);
    QCOMPARE(testing::folderEntries(dir), entries);
    if (!existed)
        return;
    QFile f(data);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), outcome == "replaced" || outcome == "in place" ? kNewBytes : kData);
    QCOMPARE(after.st_uid, before.st_uid);
    QCOMPARE(after.st_gid, before.st_gid);
    QCOMPARE(after.st_mode, before.st_mode);
    QCOMPARE(after.st_ino == before.st_ino, outcome != "replaced");
}

QTEST_GUILESS_MAIN(TestFileRights)
#include "test_file_rights.moc"
