// The save and the backup copy: the bytes each writer puts into its file,
// where the backup goes, and what a refused open leaves behind.
#include "TestSupport.h"
#include "editor/Form1.h"
#include "runtime/CodePage.h"
#include "runtime/Files.h"
#include "runtime/Forms.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QScopeGuard>
#include <QtTest>

#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using runtime::global;

// A byte string literal that may hold NULs.
#define BYTES(s) QByteArray(s, sizeof(s) - 1)

namespace {

const QString kDataRel = QStringLiteral("Games/Apex Circuit Racing/UserData/game.Gdb");
const QString kDataWin = QStringLiteral("C:\\Games\\Apex Circuit Racing\\UserData\\game.Gdb");
const QString kDataFolderRel = QStringLiteral("Games/Apex Circuit Racing/UserData");
const QString kBackupRel = QStringLiteral("windows/temp/game2.Gdb");
const QString kBackupWin = QStringLiteral("C:\\Windows\\Temp\\game2.Gdb");

void load() { runtime::dispatch([] { global<Form1>().Show(); }); }

// Loads the window from a prefix holding one data file; fails the test on
// any report.
Form1 &loaded(const testing::Prefix &prefix, const testing::Recorder &rec, const QByteArray &bytes,
              const QString &rel = kDataRel)
{
    prefix.write(rel, bytes);
    load();
    if (!rec.reports.isEmpty())
        qFatal("load failed: %s", qPrintable(rec.reports[0].text));
    return global<Form1>();
}

void clickSave(Form1 &f) { QTest::mouseClick(f.ui.CmdSalva, Qt::LeftButton); }
void clickBackup(Form1 &f) { QTest::mouseClick(f.ui.CmdBackUp, Qt::LeftButton); }
void clickReload(Form1 &f) { QTest::mouseClick(f.ui.CmdRipristina, Qt::LeftButton); }

// Edits made with the keyboard, as the user makes them: "^End", "^Home",
// "End", "Back", "Enter", "All" (select all), "Del", or "=text" to type.
void edit(runtime::EditBox *box, const QStringList &steps)
{
    for (const QString &s : steps) {
        if (s == "^End")
            QTest::keyClick(box, Qt::Key_End, Qt::ControlModifier);
        else if (s == "^Home")
            QTest::keyClick(box, Qt::Key_Home, Qt::ControlModifier);
        else if (s == "End")
            QTest::keyClick(box, Qt::Key_End);
        else if (s == "Back")
            QTest::keyClick(box, Qt::Key_Backspace);
        else if (s == "Enter")
            QTest::keyClick(box, Qt::Key_Return);
        else if (s == "All")
            QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
        else if (s == "Del")
            QTest::keyClick(box, Qt::Key_Delete);
        else if (s.startsWith('='))
            for (QChar c : s.mid(1)) // keyClicks() takes Latin-1 alone
                QTest::sendKeyEvent(QTest::Click, box, Qt::Key_unknown, QString(c), Qt::NoModifier);
        else
            qFatal("unknown edit step %s", qPrintable(s));
    }
}

// Every file and folder below a folder, relative to it.
QStringList tree(const QString &root)
{
    QStringList out;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        out << it.next().mid(root.size());
    out.sort();
    return out;
}

// What the writers must leave alone.
struct FormState {
    QString holder, crLf, filePath, lineText, allText;
    qint16 fileNum;
    bool hint;
    explicit FormState(const Form1 &f)
        : holder(f.ui.lblResult->text()), crLf(f.CrLf), filePath(f.FilePath), lineText(f.LineText),
          allText(f.AllText), fileNum(f.FileNum), hint(f.ui.Label1->isVisible())
    {
    }
    bool operator==(const FormState &) const = default;
};

QByteArray allBytesButCrLf()
{
    QByteArray b;
    for (int c = 0; c < 256; ++c)
        if (c != '\r' && c != '\n')
            b.append(char(c));
    return b;
}

} // namespace

class TestSave : public QObject {
    Q_OBJECT
private slots:
    void bytesWritten_data();
    void bytesWritten();
    void repeatedWritesDoNotGrow_data();
    void repeatedWritesDoNotGrow();
    void everyByteRoundTrips();
    void backupHoldsEditsAndLeavesDataFile();
    void secondBackupReplacesFirst();
    void backupGoesToFixedPath_data();
    void backupGoesToFixedPath();
    void backupWithoutTempFolder_data();
    void backupWithoutTempFolder();
    void saveTargetGone_data();
    void saveTargetGone();
    void longTextWrittenWhole_data();
    void longTextWrittenWhole();
    void keepsOwnerAndMode_data();
    void keepsOwnerAndMode();
    void prefixThatIsNotUtf8();
};

void TestSave::bytesWritten_data()
{
    QTest::addColumn<bool>("backup");
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("edits");
    QTest::addColumn<QByteArray>("written");

    const QByteArray two("QUALIFYLAPS = 12\r\nRACELAPS = 58\r\n");
    struct Row {
        const char *name;
        QByteArray file;
        QStringList edits;
        QByteArray written;
    };
    const Row rows[] = {
        {"no edit, CR LF everywhere", two, {}, two},
        {"no edit, last line without CR LF", "QUALIFYLAPS = 12\r\nRACELAPS = 58", {},
         two},
        {"no edit, zero-byte file", "", {}, "\r\n"},
        {"no edit, only empty lines", "\r\n\r\n\r\n", {}, "\r\n\r\n\r\n"},
        {"no edit, lone CR, lone LF, NUL, blanks", BYTES("A\rB\r\nC\nD \t\r\n\0E  \r\n"), {},
         BYTES("A\rB\r\nC\nD \t\r\n\0E  \r\n")},
        {"no edit, lone CR as the last byte", "A = 1\r", {}, "A = 1\r\r\n"},
        {"value changed in the middle", two, {"^Home", "End", "Back", "Back", "=20"},
         "QUALIFYLAPS = 20\r\nRACELAPS = 58\r\n"},
        {"line typed at the end", two, {"^End", "=AISTRENGTH = 99"},
         two + "AISTRENGTH = 99\r\n"},
        {"line typed at the end with Enter", two, {"^End", "=AISTRENGTH = 99", "Enter"},
         two + "AISTRENGTH = 99\r\n"},
        {"empty lines typed at the end", two, {"^End", "Enter", "Enter"}, two + "\r\n\r\n"},
        {"last line end removed", two, {"^End", "Back"}, two},
        {"last line end removed, then typed on", two, {"^End", "Back", "= # fast"},
         "QUALIFYLAPS = 12\r\nRACELAPS = 58 # fast\r\n"},
        {"box emptied by the user", two, {"All", "Del"}, "\r\n"},
        {"characters outside the code page", "A = 1\r\n", {"^End", "=\u20AC \u03A9 \u00E9"},
         "A = 1\r\n\x80 ? \xE9\r\n"},
    };
    for (const Row &r : rows) {
        QTest::addRow("save: %s", r.name) << false << r.file << r.edits << r.written;
        QTest::addRow("backup: %s", r.name) << true << r.file << r.edits << r.written;
    }
}

void TestSave::bytesWritten()
{
    QFETCH(bool, backup);
    QFETCH(QByteArray, file);
    QFETCH(QStringList, edits);
    QFETCH(QByteArray, written);
    testing::Prefix prefix;
    testing::Recorder rec;
    Form1 &f = loaded(prefix, rec, file);
    edit(f.ui.TxtTesto, edits);
    const QString box = f.ui.TxtTesto->text();
    const FormState before(f);
    const int windows = QApplication::topLevelWidgets().size();

    backup ? clickBackup(f) : clickSave(f);

    QVERIFY2(rec.reports.isEmpty(), qPrintable(rec.reports.value(0).text));
    QVERIFY(!rec.ended());
    const QString target = backup ? kBackupRel : kDataRel;
    QCOMPARE(prefix.read(target), written);
    QCOMPARE(prefix.read(backup ? kDataRel : kBackupRel), backup ? file : QByteArray("<missing>"));
    // Nothing beside the target, no question, nothing changed on the window.
    QCOMPARE(testing::folderEntries(QFileInfo(prefix.path(target)).absolutePath()),
             QStringList{QFileInfo(target).fileName()});
    QCOMPARE(QApplication::topLevelWidgets().size(), windows);
    QCOMPARE(f.ui.TxtTesto->text(), box);
    QVERIFY(FormState(f) == before);
    QVERIFY(!runtime::files::isOpen(4));
    QVERIFY(!runtime::files::isOpen(5));
}

void TestSave::repeatedWritesDoNotGrow_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("written");
    QTest::newRow("CR LF everywhere") << QByteArray("A = 1\r\nB = 2\r\n") << QByteArray("A = 1\r\nB = 2\r\n");
    QTest::newRow("last line without CR LF") << QByteArray("A = 1\r\nB = 2") << QByteArray("A = 1\r\nB = 2\r\n");
    QTest::newRow("zero bytes") << QByteArray() << QByteArray("\r\n");
    QTest::newRow("ends with an empty line") << QByteArray("A = 1\r\n\r\n") << QByteArray("A = 1\r\n\r\n");
}

// Save, save, reload, save, backup, reload, backup: the same bytes each time.
void TestSave::repeatedWritesDoNotGrow()
{
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, written);
    testing::Prefix prefix;
    testing::Recorder rec;
    Form1 &f = loaded(prefix, rec, file);
    clickSave(f);
    QCOMPARE(prefix.read(kDataRel), written);
    clickSave(f);
    QCOMPARE(prefix.read(kDataRel), written);
    clickReload(f);
    clickSave(f);
    QCOMPARE(prefix.read(kDataRel), written);
    clickBackup(f);
    QCOMPARE(prefix.read(kBackupRel), written);
    clickReload(f);
    clickBackup(f);
    QCOMPARE(prefix.read(kBackupRel), written);
    QCOMPARE(prefix.read(kDataRel), written);
    QVERIFY(rec.reports.isEmpty());
}

void TestSave::everyByteRoundTrips()
{
    // Every byte but CR and LF, forwards on a line with its end and backwards
    // on a last line without one.
    const QByteArray bytes = allBytesButCrLf();
    QByteArray reversed = bytes;
    std::reverse(reversed.begin(), reversed.end());
    const QByteArray file = bytes + "\r\n" + reversed;
    const QByteArray written = file + "\r\n";
    const QString box = runtime::fromAnsi(bytes) + "\r\n" + runtime::fromAnsi(reversed) + "\r\n";

    testing::Prefix prefix;
    testing::Recorder rec;
    Form1 &f = loaded(prefix, rec, file);
    QCOMPARE(f.ui.TxtTesto->text(), box);
    clickSave(f);
    QCOMPARE(prefix.read(kDataRel), written);
    clickReload(f);
    QCOMPARE(f.ui.TxtTesto->text(), box);
    clickSave(f);
    clickBackup(f);
    QCOMPARE(prefix.read(kDataRel), written);
    QCOMPARE(prefix.read(kBackupRel), written);
    QVERIFY(rec.reports.isEmpty());
}

void TestSave::backupHoldsEditsAndLeavesDataFile()
{
    testing::Prefix prefix;
    testing::Recorder rec;
    const QByteArray file("RACELAPS = 58\r\n");
    Form1 &f = loaded(prefix, rec, file);
    edit(f.ui.TxtTesto, {"^End", "=AISTRENGTH = 99"});
    clickBackup(f);
    QCOMPARE(prefix.read(kBackupRel), QByteArray("RACELAPS = 58\r\nAISTRENGTH = 99\r\n"));
    QCOMPARE(prefix.read(kDataRel), file);
    // The edits stay in the box until a reload shows the file on disk.
    QCOMPARE(f.ui.TxtTesto->text(), QString("RACELAPS = 58\r\nAISTRENGTH = 99"));
    clickReload(f);
    QCOMPARE(f.ui.TxtTesto->text(), QString("RACELAPS = 58\r\n"));
    QVERIFY(rec.reports.isEmpty());
}

void TestSave::secondBackupReplacesFirst()
{
    testing::Prefix prefix;
    testing::Recorder rec;
    Form1 &f = loaded(prefix, rec, "RACELAPS = 58\r\nAISTRENGTH = 99\r\nQUALIFYLAPS = 12\r\n");
    clickBackup(f);
    edit(f.ui.TxtTesto, {"All", "=TYRES = 2"});
    clickBackup(f);
    QCOMPARE(prefix.read(kBackupRel), QByteArray("TYRES = 2\r\n"));
    QCOMPARE(testing::folderEntries(prefix.path("windows/temp")), QStringList{"game2.Gdb"});
    QVERIFY(rec.reports.isEmpty());
}

void TestSave::backupGoesToFixedPath_data()
{
    QTest::addColumn<QString>("dataRel");  // where the data file lies
    QTest::addColumn<QString>("tempRel");  // windows\temp as spelled on disk
    QTest::newRow("data file at the drive's root") << "game.Gdb" << "windows/temp";
    QTest::newRow("deep folder, WINDOWS/Temp")
        << "Games/Apex Circuit Racing/Profiles/Driver One/Setups/game.Gdb" << "WINDOWS/Temp";
    QTest::newRow("name in capitals, Windows/TEMP") << "Racing/GAME.GDB" << "Windows/TEMP";
    QTest::newRow("data file in the backup's folder") << "windows/temp/game.Gdb" << "windows/temp";
}

void TestSave::backupGoesToFixedPath()
{
    QFETCH(QString, dataRel);
    QFETCH(QString, tempRel);
    testing::Prefix prefix;
    testing::Recorder rec;
    QVERIFY(QDir(prefix.path("windows")).removeRecursively());
    QVERIFY(QDir().mkpath(prefix.path(tempRel)));
    const QByteArray file("RACELAPS = 58\r\n");
    Form1 &f = loaded(prefix, rec, file, dataRel);
    edit(f.ui.TxtTesto, {"^End", "=FUEL = 40"});
    const QStringList before = tree(prefix.driveC());

    clickBackup(f);

    QVERIFY2(rec.reports.isEmpty(), qPrintable(rec.reports.value(0).text));
    QCOMPARE(prefix.read(tempRel + "/game2.Gdb"), QByteArray("RACELAPS = 58\r\nFUEL = 40\r\n"));
    QCOMPARE(prefix.read(dataRel), file);
    QStringList after = tree(prefix.driveC());
    after.removeOne("/" + tempRel + "/game2.Gdb");
    QCOMPARE(after, before);
}

void TestSave::backupWithoutTempFolder_data()
{
    QTest::addColumn<QString>("removed");
    QTest::newRow("no temp folder") << "windows/temp";
    QTest::newRow("no windows folder") << "windows";
}

void TestSave::backupWithoutTempFolder()
{
    QFETCH(QString, removed);
    testing::Prefix prefix;
    testing::Recorder rec;
    const QByteArray file("RACELAPS = 58\r\n");
    Form1 &f = loaded(prefix, rec, file);
    QVERIFY(QDir(prefix.path(removed)).removeRecursively());
    edit(f.ui.TxtTesto, {"^End", "=FUEL = 40"});
    const QString box = f.ui.TxtTesto->text();
    const QStringList before = tree(prefix.driveC());

    clickBackup(f);

    QCOMPARE(rec.reports.size(), 1);
    QCOMPARE(rec.reports[0].number, 76);
    QVERIFY2(rec.reports[0].text.contains(kBackupWin), qPrintable(rec.reports[0].text));
    QVERIFY(!rec.ended());
    QVERIFY(f.isVisible());
    QCOMPARE(f.ui.TxtTesto->text(), box);
    QCOMPARE(tree(prefix.driveC()), before); // no folder, no file made
    QCOMPARE(prefix.read(kDataRel), file);

    // The program goes on: once the folder is back the backup works.
    QVERIFY(QDir().mkpath(prefix.path("windows/temp")));
    clickBackup(f);
    QCOMPARE(rec.reports.size(), 1);
    QCOMPARE(prefix.read(kBackupRel), QByteArray("RACELAPS = 58\r\nFUEL = 40\r\n"));
}

void TestSave::saveTargetGone_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("number"); // 0: the save succeeds
    QTest::newRow("file removed") << "remove" << 0;
    QTest::newRow("folder removed") << "rmdir" << 76;
    QTest::newRow("a folder in its place") << "dir" << 75;
}

void TestSave::saveTargetGone()
{
    QFETCH(QString, how);
    QFETCH(int, number);
    testing::Prefix prefix;
    testing::Recorder rec;
    Form1 &f = loaded(prefix, rec, "RACELAPS = 58\r\n");
    edit(f.ui.TxtTesto, {"^End", "=FUEL = 40"});
    const QString box = f.ui.TxtTesto->text();
    if (how == "remove") {
        QVERIFY(QFile::remove(prefix.path(kDataRel)));
    } else if (how == "rmdir") {
        QVERIFY(QDir(prefix.path(kDataFolderRel)).removeRecursively());
    } else {
        QVERIFY(QFile::remove(prefix.path(kDataRel)));
        QVERIFY(QDir().mkpath(prefix.path(kDataRel)));
    }
    const QStringList before = tree(prefix.driveC());

    clickSave(f);

    QVERIFY(!rec.ended());
    QVERIFY(f.isVisible());
    QCOMPARE(f.ui.TxtTesto->text(), box);
    QVERIFY(!runtime::files::isOpen(4));
    if (number == 0) {
        QVERIFY2(rec.reports.isEmpty(), qPrintable(rec.reports.value(0).text));
        QCOMPARE(prefix.read(kDataRel), QByteArray("RACELAPS = 58\r\nFUEL = 40\r\n"));
        QCOMPARE(testing::folderEntries(prefix.path(kDataFolderRel)), QStringList{"game.Gdb"});
        return;
    }
    QCOMPARE(rec.reports.size(), 1);
    QCOMPARE(rec.reports[0].number, number);
    QVERIFY2(rec.reports[0].text.contains(kDataWin), qPrintable(rec.reports[0].text));
    QCOMPARE(tree(prefix.driveC()), before);
}

void TestSave::longTextWrittenWhole_data()
{
    // The write converts a long text piece by piece; whatever lies on the
    // borders between pieces, the bytes are those of the text converted whole.
    QTest::addColumn<QString>("text");
    const QString smile = QString::fromUcs4(U"\U0001F600");
    auto around = [](qsizetype at, const QString &odd) {
        return QString(at, u'a') + odd + QString(70000, u'b');
    };
    QTest::newRow("ASCII, many pieces") << QString(300001, u'x');
    for (qsizetype at : {65535, 65536, 65537, 131071}) {
        QTest::addRow("pair of surrogates at %lld", qlonglong(at)) << around(at, smile);
        QTest::addRow("euro sign at %lld", qlonglong(at)) << around(at, QStringLiteral("\u20AC"));
        QTest::addRow("lone high surrogate at %lld", qlonglong(at)) << around(at, QString(QChar(0xD83D)));
    }
    QTest::newRow("code page only, many pieces")
        << QString(200000, QChar(0x20AC)) + QString(1, u'\0') + QString(100000, QChar(0x00E9));
    QTest::newRow("surrogates only") << smile.repeated(100001);
}

void TestSave::longTextWrittenWhole()
{
    QFETCH(QString, text);
    testing::Prefix prefix;
    testing::Recorder rec;
    runtime::files::OpenOutput(4, kBackupWin);
    runtime::files::Print(4, text);
    runtime::files::Close(4);
    QCOMPARE(prefix.read(kBackupRel), runtime::toAnsi(text) + "\r\n");
}

void TestSave::keepsOwnerAndMode_data()
{
    QTest::addColumn<bool>("backup");
    QTest::addColumn<int>("owner"); // uid and gid of the file before; -1: the test's own
    QTest::addColumn<int>("mode");  // of the file before; -1: there is none
    QTest::addColumn<int>("kept");  // the mode afterwards
    for (bool backup : {false, true}) {
        const char *w = backup ? "backup" : "save";
        QTest::addRow("%s: another user's file, 0640", w) << backup << 65534 << 0640 << 0640;
        QTest::addRow("%s: another user's file with set-id bits, 06660", w) << backup << 65534 << 06660 << 06660;
        QTest::addRow("%s: own file, 0600", w) << backup << -1 << 0600 << 0600;
        QTest::addRow("%s: own file, 0666, wider than a new file's", w) << backup << -1 << 0666 << 0666;
        QTest::addRow("%s: own file, write-only 0200", w) << backup << -1 << 0200 << 0200;
        // A new file gets what the umask (027 here) leaves of 0666.
        QTest::addRow("%s: no file before", w) << backup << -1 << -1 << 0640;
    }
}

void TestSave::keepsOwnerAndMode()
{
    QFETCH(bool, backup);
    QFETCH(int, owner);
    QFETCH(int, mode);
    QFETCH(int, kept);
    if (owner >= 0 && !testing::isRoot())
        QSKIP("giving a file to another user needs root");
    testing::Prefix prefix;
    testing::Recorder rec;
    const mode_t oldMask = ::umask(027);
    auto restoreMask = qScopeGuard([oldMask] { ::umask(oldMask); });
    Form1 &f = loaded(prefix, rec, "RACELAPS = 58\r\n");
    const QString rel = backup ? kBackupRel : kDataRel;
    const QByteArray target = QFile::encodeName(prefix.path(rel));
    if (mode < 0) {
        QVERIFY(!backup || !prefix.exists(rel));
        if (!backup)
            QCOMPARE(::unlink(target.constData()), 0);
    } else {
        prefix.write(rel, "OLD = 1\r\n");
        if (owner >= 0)
            QCOMPARE(::chown(target.constData(), uid_t(owner), gid_t(owner)), 0);
        QCOMPARE(::chmod(target.constData(), mode_t(mode)), 0);
    }
    edit(f.ui.TxtTesto, {"All", "=FUEL = 40"});

    backup ? clickBackup(f) : clickSave(f);

    QVERIFY2(rec.reports.isEmpty(), qPrintable(rec.reports.value(0).text));
    struct stat st;
    QCOMPARE(::stat(target.constData(), &st), 0);
    QCOMPARE(int(st.st_mode & 07777), kept);
    QCOMPARE(st.st_uid, owner >= 0 ? uid_t(owner) : ::geteuid());
    if (owner >= 0)
        QCOMPARE(st.st_gid, gid_t(owner));
    QCOMPARE(::chmod(target.constData(), 0644), 0); // so that a user who is not root may read it
    QCOMPARE(prefix.read(rel), QByteArray("FUEL = 40\r\n"));
    QCOMPARE(testing::folderEntries(QFileInfo(prefix.path(rel)).absolutePath()),
             QStringList{QFileInfo(rel).fileName()});
}

// A prefix whose path is not UTF-8: the folder name holds the byte E9 (an
// e with an acute accent in Latin-1). The file is found there, loaded, saved
// and backed up, and nothing is made anywhere else.
void TestSave::prefixThatIsNotUtf8()
{
    QTemporaryDir dir;
    const QByteArray root = QFile::encodeName(dir.path()) + "/p\xE9x";
    auto removeTree = qScopeGuard([&root] { testing::removeTree(root); });
    for (const char *folder : {"", "/drive_c", "/drive_c/Games", "/drive_c/windows", "/drive_c/windows/temp"})
        QCOMPARE(::mkdir((root + folder).constData(), 0755), 0);
    auto writeBytes = [](const QByteArray &path, const QByteArray &content) {
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const bool ok = fd >= 0 && ::write(fd, content.constData(), size_t(content.size())) == content.size();
        return fd >= 0 && ::close(fd) == 0 && ok;
    };
    auto readBytes = [](const QByteArray &path) {
        QByteArray out;
        const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return QByteArray("<missing>");
        char buf[4096];
        ssize_t n;
        while ((n = ::read(fd, buf, sizeof buf)) > 0)
            out.append(buf, n);
        ::close(fd);
        return out;
    };
    const QByteArray data = root + "/drive_c/Games/game.Gdb";
    const QByteArray backupFile = root + "/drive_c/windows/temp/game2.Gdb";
    QVERIFY(writeBytes(data, "RACELAPS = 58\r\n"));

    const bool hadPrefix = qEnvironmentVariableIsSet("WINEPREFIX");
    const QByteArray oldPrefix = qgetenv("WINEPREFIX");
    qputenv("WINEPREFIX", root);
    auto restore = qScopeGuard([&] { hadPrefix ? qputenv("WINEPREFIX", oldPrefix) : qunsetenv("WINEPREFIX"); });
    testing::Recorder rec;

    load();
    QVERIFY2(rec.reports.isEmpty(), qPrintable(rec.reports.value(0).text));
    Form1 &f = global<Form1>();
    QCOMPARE(f.ui.lblResult->text(), QString("C:\\Games\\game.Gdb"));
    QCOMPARE(f.ui.TxtTesto->text(), QString("RACELAPS = 58\r\n"));
    edit(f.ui.TxtTesto, {"^End", "=FUEL = 40"});
    clickSave(f);
    clickBackup(f);
    clickReload(f);

    QVERIFY2(rec.reports.isEmpty(), qPrintable(rec.reports.value(0).text));
    QCOMPARE(readBytes(data), QByteArray("RACELAPS = 58\r\nFUEL = 40\r\n"));
    QCOMPARE(readBytes(backupFile), QByteArray("RACELAPS = 58\r\nFUEL = 40\r\n"));
    QCOMPARE(f.ui.TxtTesto->text(), QString("RACELAPS = 58\r\nFUEL = 40\r\n"));
    // Nothing went to a look-alike folder whose name is the byte's UTF-8 reading.
    QList<QByteArray> names;
    if (DIR *d = ::opendir(QFile::encodeName(dir.path()).constData())) {
        while (const dirent *e = ::readdir(d))
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                names << QByteArray(e->d_name);
        ::closedir(d);
    }
    QCOMPARE(names, QList<QByteArray>{"p\xE9x"});
}

QTEST_MAIN(TestSave)
#include "test_save.moc"
