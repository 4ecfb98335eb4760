// Windows paths onto this machine: drive C under the Wine prefix, folders
// matched regardless of letter case, relative paths under the current folder.
#include "TestSupport.h"
#include "runtime/DrivePath.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

using runtime::nativePath;

namespace {

void makeFile(const QString &path)
{
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
}

} // namespace

class TestDrivePath : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void mapping_data();
    void mapping();
    void isDriveC_data();
    void isDriveC();
    void prefixFromEnvironment();
    void prefixUnsetUsesHome_data();
    void prefixUnsetUsesHome();
    void pathsNotUtf8KeptAsBytes_data();
    void pathsNotUtf8KeptAsBytes();
    void reportNamesWhereThePathLies_data();
    void reportNamesWhereThePathLies();

private:
    QTemporaryDir m_tmp;
    QString m_prefix, m_work, m_savedCwd;
    QByteArray m_savedPrefix, m_savedHome;
    bool m_hadPrefix = false;
};

void TestDrivePath::initTestCase()
{
#ifdef Q_OS_WIN
    QSKIP("paths are used as they stand on Windows");
#endif
    QVERIFY(m_tmp.isValid());
    m_prefix = m_tmp.path() + QStringLiteral("/prefix");
    m_work = m_tmp.path() + QStringLiteral("/work");
    const QString c = m_prefix + QStringLiteral("/drive_c");
    makeFile(c + QStringLiteral("/Windows/Temp/Game2.Gdb"));
    makeFile(c + QStringLiteral("/Windows/Temp/CAF\u00C9.TXT"));
    makeFile(c + QStringLiteral("/Games/apex/game.Gdb"));
    QVERIFY(QDir().mkpath(c + QStringLiteral("/Program Files/Apex Circuit Racing")));
    // Folders that differ only in case.
    for (const char *name : {"Data", "daTa", "DATA", "data"})
        QVERIFY(QDir().mkpath(c + QLatin1Char('/') + QLatin1String(name)));
    makeFile(m_work + QStringLiteral("/Sub/File.txt"));
    m_hadPrefix = qEnvironmentVariableIsSet("WINEPREFIX");
    m_savedPrefix = qgetenv("WINEPREFIX");
    m_savedHome = qgetenv("HOME");
    m_savedCwd = QDir::currentPath();
}

void TestDrivePath::init()
{
    qputenv("WINEPREFIX", QFile::encodeName(m_prefix));
    QVERIFY(QDir::setCurrent(m_work));
}

void TestDrivePath::cleanup()
{
    if (m_hadPrefix)
        qputenv("WINEPREFIX", m_savedPrefix);
    else
        qunsetenv("WINEPREFIX");
    qputenv("HOME", m_savedHome);
    QDir::setCurrent(m_savedCwd);
}

void TestDrivePath::mapping_data()
{
    // "<C>" stands for drive_c, "<W>" for the current folder, "<T>" for the
    // temporary folder holding both.
    QTest::addColumn<QString>("windows");
    QTest::addColumn<QString>("expected");

    QTest::newRow("drive root") << "C:\\" << "<C>";
    QTest::newRow("lower-case drive") << "c:\\" << "<C>";
    QTest::newRow("drive alone") << "C:" << "<C>";
    QTest::newRow("forward slashes") << "C:/Windows/Temp" << "<C>/Windows/Temp";
    QTest::newRow("exact case") << "C:\\Windows\\Temp\\Game2.Gdb" << "<C>/Windows/Temp/Game2.Gdb";
    QTest::newRow("other case throughout") << "C:\\WINDOWS\\temp\\game2.gdb" << "<C>/Windows/Temp/Game2.Gdb";
    QTest::newRow("missing file kept as written") << "C:\\windows\\TEMP\\game3.Gdb" << "<C>/Windows/Temp/game3.Gdb";
    QTest::newRow("missing folder, rest as written") << "C:\\windows\\Missing\\games" << "<C>/Windows/Missing/games";
    QTest::newRow("doubled and trailing backslashes") << "C:\\\\Windows\\\\\\Temp\\" << "<C>/Windows/Temp";
    QTest::newRow("blanks in names") << "C:\\program files\\APEX CIRCUIT RACING"
                                     << "<C>/Program Files/Apex Circuit Racing";
    QTest::newRow("non-ASCII case") << QStringLiteral(u"C:\\Windows\\Temp\\caf\u00E9.txt")
                                    << QStringLiteral(u"<C>/Windows/Temp/CAF\u00C9.TXT");
    QTest::newRow("several match: first in byte order") << "C:\\dAtA" << "<C>/DATA";
    QTest::newRow("several match: exact wins") << "C:\\Data" << "<C>/Data";
    QTest::newRow("several match: exact wins, lower case") << "C:\\data\\x" << "<C>/data/x";
    QTest::newRow("dot") << "C:\\Windows\\.\\Temp" << "<C>/Windows/Temp";
    QTest::newRow("dot dot") << "C:\\Windows\\..\\games\\APEX" << "<C>/Games/apex";
    QTest::newRow("dot dot never above the drive") << "C:\\..\\..\\windows" << "<C>/Windows";
    QTest::newRow("dot dot back to the drive") << "C:\\Windows\\..\\..\\..\\Windows\\Temp\\.." << "<C>/Windows";
    QTest::newRow("matching resumes after dot dot") << "C:\\nothing\\..\\windows\\temp" << "<C>/Windows/Temp";
    QTest::newRow("through a file") << "C:\\Games\\apex\\GAME.GDB\\x" << "<C>/Games/apex/game.Gdb/x";

    QTest::newRow("relative name") << "File non trovato." << "<W>/File non trovato.";
    QTest::newRow("relative folders") << "sub\\file.TXT" << "<W>/Sub/File.txt";
    QTest::newRow("relative dot") << ".\\SUB" << "<W>/Sub";
    QTest::newRow("relative climbs out") << "..\\work\\sub\\FILE.txt" << "<W>/Sub/File.txt";
    QTest::newRow("relative climbs to the prefix") << "..\\PREFIX\\drive_c\\windows" << "<C>/Windows";
    QTest::newRow("path of this machine") << "<T>/WORK/sub" << "<W>/Sub";
    QTest::newRow("empty") << "" << "";
}

void TestDrivePath::mapping()
{
    QFETCH(QString, windows);
    QFETCH(QString, expected);
    windows.replace(QStringLiteral("<T>"), m_tmp.path());
    expected.replace(QStringLiteral("<C>"), m_prefix + QStringLiteral("/drive_c"));
    expected.replace(QStringLiteral("<W>"), m_work);
    QCOMPARE(nativePath(windows), expected);

    // Files by number find the same place: a save there writes that file,
    // or makes it, and is refused for a folder or where no folder holds it.
    const QFileInfo info(expected);
    const bool existed = info.isFile();
    const testing::FileResult r = testing::writeText(windows, QStringLiteral("MARK = 1"));
    if (expected.isEmpty() || info.isDir()) {
        QCOMPARE(r.number, 75);
    } else if (!QFileInfo(info.path()).isDir()) {
        QCOMPARE(r.number, 76);
    } else {
        QCOMPARE(r.number, 0);
        QFile f(expected);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QCOMPARE(f.readAll(), QByteArray("MARK = 1\r\n"));
        QVERIFY(existed ? f.resize(0) : f.remove());
    }
}

void TestDrivePath::isDriveC_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("driveC");
    QTest::newRow("C:\\") << "C:\\" << true;
    QTest::newRow("c:\\x") << "c:\\x" << true;
    QTest::newRow("C:/x") << "C:/x" << true;
    QTest::newRow("D:\\x") << "D:\\x" << false;
    QTest::newRow("\\x") << "\\x" << false;
    QTest::newRow("relative") << "C\\x" << false;
    QTest::newRow("empty") << "" << false;
}

void TestDrivePath::isDriveC()
{
    QFETCH(QString, path);
    QFETCH(bool, driveC);
    QCOMPARE(runtime::isDriveCPath(path), driveC);
}

void TestDrivePath::prefixFromEnvironment()
{
    QCOMPARE(QFile::decodeName(runtime::driveCRootBytes()), m_prefix + QStringLiteral("/drive_c"));
    // Read afresh on every call.
    const QString other = m_tmp.path() + QStringLiteral("/other");
    qputenv("WINEPREFIX", QFile::encodeName(other + QLatin1Char('/')));
    QCOMPARE(QFile::decodeName(runtime::driveCRootBytes()), other + QStringLiteral("/drive_c"));
    QCOMPARE(nativePath(QStringLiteral("C:\\Windows")), other + QStringLiteral("/drive_c/Windows"));
}

void TestDrivePath::prefixUnsetUsesHome_data()
{
    QTest::addColumn<bool>("setEmpty");
    QTest::newRow("unset") << false;
    QTest::newRow("empty") << true;
}

void TestDrivePath::prefixUnsetUsesHome()
{
    QFETCH(bool, setEmpty);
    const QString home = m_tmp.path() + QStringLiteral("/home");
    makeFile(home + QStringLiteral("/.wine/drive_c/Windows/win.ini"));
    qputenv("HOME", QFile::encodeName(home));
    if (setEmpty)
        qputenv("WINEPREFIX", QByteArray());
    else
        qunsetenv("WINEPREFIX");
    QCOMPARE(QFile::decodeName(runtime::driveCRootBytes()), home + QStringLiteral("/.wine/drive_c"));
    QCOMPARE(nativePath(QStringLiteral("C:\\WINDOWS\\WIN.INI")), home + QStringLiteral("/.wine/drive_c/Windows/win.ini"));
}

void TestDrivePath::pathsNotUtf8KeptAsBytes_data()
{
    // Where the folder with the byte E9 in its name stands in for: the
    // prefix, the home folder (no prefix set) or the current folder.
    QTest::addColumn<QString>("as");
    QTest::newRow("WINEPREFIX") << "prefix";
    QTest::newRow("HOME") << "home";
    QTest::newRow("current folder") << "current";
}

void TestDrivePath::pathsNotUtf8KeptAsBytes()
{
    QFETCH(QString, as);
    const QByteArray odd = QFile::encodeName(m_tmp.path()) + "/p\xE9x";
    auto removeOdd = qScopeGuard([&odd] { testing::removeTree(odd); });
    const QByteArray driveC = as == "home" ? odd + "/.wine/drive_c" : odd + "/drive_c";
    QByteArray made;
    for (const QByteArray &part : (driveC.mid(odd.size()) + "/Windows/Temp").split('/')) {
        made += part.isEmpty() ? QByteArray() : "/" + part;
        QCOMPARE(::mkdir((odd + made).constData(), 0755), 0);
    }

    if (as == "prefix") {
        qputenv("WINEPREFIX", odd);
    } else if (as == "home") {
        qunsetenv("WINEPREFIX");
        qputenv("HOME", odd);
    } else {
        QCOMPARE(::chdir(driveC.constData()), 0);
    }
    const QString windows = as == "current" ? QStringLiteral("windows\\TEMP\\game2.Gdb")
                                            : QStringLiteral("C:\\WINDOWS\\temp\\game2.Gdb");
    QCOMPARE(runtime::nativePathBytes(windows), driveC + "/Windows/Temp/game2.Gdb");
    if (as != "current")
        QCOMPARE(runtime::driveCRootBytes(), driveC);
}

void TestDrivePath::reportNamesWhereThePathLies_data()
{
    QTest::addColumn<QString>("windows");
    QTest::addColumn<QString>("report"); // "<C>" stands for drive_c
    QTest::newRow("file on drive C") << "C:\\WINDOWS\\temp\\game2.gdb"
                                     << "C:\\WINDOWS\\temp\\game2.gdb (which is <C>/Windows/Temp/Game2.Gdb)";
    QTest::newRow("drive root") << "C:\\" << "C:\\ (which is <C>)";
    QTest::newRow("missing folder") << "c:\\Nowhere\\x" << "c:\\Nowhere\\x (which is <C>/Nowhere/x)";
    QTest::newRow("relative name: as it stands") << "File non trovato." << "File non trovato.";
    QTest::newRow("another drive: as it stands") << "D:\\x" << "D:\\x";
}

void TestDrivePath::reportNamesWhereThePathLies()
{
    QFETCH(QString, windows);
    QFETCH(QString, report);
    report.replace(QStringLiteral("<C>"), m_prefix + QStringLiteral("/drive_c"));
    QCOMPARE(runtime::reportPath(windows), report);
}

QTEST_APPLESS_MAIN(TestDrivePath)
#include "test_drivepath.moc"
