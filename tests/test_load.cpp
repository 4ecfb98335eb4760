// The start-up load and the reload: the search, the path holder, the line
// reader and what the editing box ends up holding.
#include "TestSupport.h"
#include "editor/Form1.h"
#include "runtime/CodePage.h"
#include "runtime/Files.h"
#include "runtime/Forms.h"

#include <QApplication>
#include <QFile>
#include <QSet>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

using runtime::global;

namespace {

const QString kDataRel = QStringLiteral("Games/Apex Circuit Racing/UserData/game.Gdb");
const QString kDataWin = QStringLiteral("C:\\Games\\Apex Circuit Racing\\UserData\\game.Gdb");

// Counts Show events of the controls that must never appear.
class ShowSpy : public QObject {
public:
    QSet<QString> shown;
    bool eventFilter(QObject *o, QEvent *e) override
    {
        if (e->type() == QEvent::Show)
            shown.insert(o->objectName());
        return false;
    }
};

void load() { runtime::dispatch([] { global<Form1>().Show(); }); }

QByteArray allHighBytes()
{
    QByteArray b;
    for (int c = 0x80; c <= 0xFF; ++c)
        b.append(char(c));
    return b;
}

} // namespace

class TestLoad : public QObject {
    Q_OBJECT
private slots:
    void reader_data();
    void reader();
    void lineInputDirect_data();
    void lineInputDirect();
    void loadShowsWindowWithFocusAndHiddenHolders();
    void searchMissEndsWithReportAndOpensNothing();
    void reloadShowsChangedFileAndReplacesEdits();
    void reloadAfterRemovalReportsAndKeepsBox_data();
    void reloadAfterRemovalReportsAndKeepsBox();
    void secondReloadDoesNotRepeatText();
    void failedReloadLeavesNoTextForTheNext();
};

void TestLoad::reader_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("box");

    QTest::newRow("CR LF everywhere") << QByteArray("A = 1\r\nB = 2\r\n") << QString("A = 1\r\nB = 2\r\n");
    QTest::newRow("last line without its end") << QByteArray("A = 1\r\nB = 2") << QString("A = 1\r\nB = 2\r\n");
    QTest::newRow("zero bytes") << QByteArray() << QString();
    QTest::newRow("only line ends") << QByteArray("\r\n\r\n\r\n") << QString("\r\n\r\n\r\n");
    QTest::newRow("empty lines inside") << QByteArray("A\r\n\r\n\r\nB\r\n") << QString("A\r\n\r\n\r\nB\r\n");
    QTest::newRow("blanks at both ends") << QByteArray("  A = 1 \t \r\n   \r\n") << QString("  A = 1 \t \r\n   \r\n");
    QTest::newRow("lone CR") << QByteArray("A\rB\r\nC\r") << QString("A\rB\r\nC\r\r\n");
    QTest::newRow("lone LF") << QByteArray("A\nB\r\n\nC") << QString("A\nB\r\n\nC\r\n");
    QTest::newRow("CR CR LF") << QByteArray("A\r\r\nB\r\n") << QString("A\r\r\nB\r\n");
    QTest::newRow("NUL bytes") << QByteArray("A\0B\r\n\0\r\n", 8) << QString::fromUtf16(u"A\0B\r\n\0\r\n", 8);
    QTest::newRow("bytes 80 to FF") << allHighBytes() + "\r\n" << runtime::fromAnsi(allHighBytes()) + "\r\n";
    QTest::newRow("one line of 1 MiB") << QByteArray(1 << 20, 'x') << QString(1 << 20, 'x') + "\r\n";
}

void TestLoad::reader()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, box);
    testing::Prefix prefix;
    testing::Recorder rec;
    prefix.write(kDataRel, file);

    load();
    QVERIFY2(rec.reports.isEmpty(), qPrintable(rec.reports.value(0).text));
    Form1 &f = global<Form1>();
    QCOMPARE(f.ui.TxtTesto->text(), box);
    QCOMPARE(f.ui.TxtTesto->toPlainText().size() > 0, !box.isEmpty());
    QVERIFY(f.AllText.isEmpty());
    QVERIFY(!runtime::files::isOpen(f.FileNum));
    // The read never changes the file.
    QCOMPARE(prefix.read(kDataRel), file);
}

void TestLoad::lineInputDirect_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("empty") << QByteArray() << QStringList{};
    QTest::newRow("one end") << QByteArray("\r\n") << QStringList{""};
    QTest::newRow("no end") << QByteArray("abc") << QStringList{"abc"};
    QTest::newRow("CR at the very end") << QByteArray("abc\r") << QStringList{"abc\r"};
    QTest::newRow("mixed") << QByteArray("a\r\n\nb\rc\r\n\r\nd") << QStringList{"a", "\nb\rc", "", "d"};
}

void TestLoad::lineInputDirect()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, lines);
    testing::Prefix prefix;
    testing::Recorder rec;
    prefix.write("f.txt", file);
    const int n = runtime::files::FreeFile();
    runtime::files::OpenInput(n, "C:\\F.TXT");
    QStringList got;
    while (!runtime::files::Eof(n))
        got << runtime::files::LineInput(n);
    QCOMPARE(got, lines);
    bool raised = false;
    try {
        runtime::files::LineInput(n);
    } catch (const runtime::RuntimeError &e) {
        raised = e.number() == runtime::InputPastEnd;
    }
    QVERIFY(raised);
    runtime::files::Close(n);
    QVERIFY(!runtime::files::isOpen(n));
}

void TestLoad::loadShowsWindowWithFocusAndHiddenHolders()
{
    testing::Prefix prefix;
    testing::Recorder rec;
    prefix.write(kDataRel, "QUALIFYLAPS = 12\r\n");
    ShowSpy spy;
    qApp->installEventFilter(&spy);
    load();
    qApp->removeEventFilter(&spy);

    QVERIFY(rec.reports.isEmpty());
    QVERIFY(!rec.ended());
    Form1 &f = global<Form1>();
    QVERIFY(f.isVisible());
    QCOMPARE(f.ui.lblResult->text(), kDataWin);
    QCOMPARE(f.ui.TxtTesto->text(), QString("QUALIFYLAPS = 12\r\n"));
    for (const char *name : {"TxtPath", "TxtFile", "lblResult", "Label1"})
        QVERIFY2(!spy.shown.contains(name), name);
    QVERIFY(!f.ui.lblResult->isVisible());
    QCOMPARE(f.geometry(), QRect(85, 38, 636, 467));
    f.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&f));
    QCOMPARE(QApplication::focusWidget(), f.ui.CmdSalva);
}

void TestLoad::searchMissEndsWithReportAndOpensNothing()
{
    testing::Prefix prefix;
    testing::Recorder rec;
    prefix.write("Games/other.Gdb", "X = 1\r\n");
    // A file of the miss text's name in the current folder must not be read.
    QTemporaryDir cwd;
    const QString old = QDir::currentPath();
    QDir::setCurrent(cwd.path());
    QFile decoy(cwd.filePath("File non trovato."));
    QVERIFY(decoy.open(QIODevice::WriteOnly));
    decoy.write("DECOY = 1\r\n");
    decoy.close();

    load();
    QDir::setCurrent(old);

    QCOMPARE(rec.reports.size(), 1);
    QCOMPARE(rec.reports[0].number, 53);
    // Where C:\ lies on this machine, so the user knows where to put the file.
    QCOMPARE(rec.reports[0].text, "File not found: game.Gdb (searched C:\\, which is " + prefix.driveC()
                                      + ", and every folder below it)");
    QCOMPARE(rec.ends, QList<int>{1});
    Form1 &f = global<Form1>();
    QVERIFY(!f.isVisible());
    QCOMPARE(f.ui.lblResult->text(), QString("File non trovato."));
    QVERIFY(f.ui.TxtTesto->text().isEmpty());
}

void TestLoad::reloadShowsChangedFileAndReplacesEdits()
{
    testing::Prefix prefix;
    testing::Recorder rec;
    prefix.write(kDataRel, "RACELAPS = 58\r\n");
    load();
    Form1 &f = global<Form1>();
    f.ui.TxtTesto->moveCursor(QTextCursor::End);
    QTest::keyClicks(f.ui.TxtTesto, "UNSAVED = 1");
    prefix.write(kDataRel, "RACELAPS = 70\r\nAISTRENGTH = 99");
    QTest::mouseClick(f.ui.CmdRipristina, Qt::LeftButton);
    QVERIFY(rec.reports.isEmpty());
    QCOMPARE(f.ui.TxtTesto->text(), QString("RACELAPS = 70\r\nAISTRENGTH = 99\r\n"));
}

void TestLoad::reloadAfterRemovalReportsAndKeepsBox_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("number");
    QTest::newRow("file removed") << "remove" << 53;
    QTest::newRow("folder removed") << "rmdir" << 76;
    QTest::newRow("a folder in its place") << "dir" << 75;
    // Refused at once: the reload must not wait for a writer that never comes.
    QTest::newRow("a FIFO in its place") << "fifo" << 75;
    QTest::newRow("a link to nowhere in its place") << "dangling" << 53;
}

void TestLoad::reloadAfterRemovalReportsAndKeepsBox()
{
    QFETCH(QString, how);
    QFETCH(int, number);
    testing::Prefix prefix;
    testing::Recorder rec;
    prefix.write(kDataRel, "RACELAPS = 58\r\n");
    load();
    Form1 &f = global<Form1>();
    f.ui.TxtTesto->moveCursor(QTextCursor::End);
    QTest::keyClicks(f.ui.TxtTesto, "EDIT = 1");
    const QString edited = f.ui.TxtTesto->text();

    if (how == "remove") {
        QVERIFY(QFile::remove(prefix.path(kDataRel)));
    } else if (how == "rmdir") {
        QVERIFY(QDir(prefix.path("Games/Apex Circuit Racing/UserData")).removeRecursively());
    } else {
        QVERIFY(QFile::remove(prefix.path(kDataRel)));
        const QByteArray t = QFile::encodeName(prefix.path(kDataRel));
        if (how == "dir")
            QVERIFY(QDir().mkpath(prefix.path(kDataRel)));
        else if (how == "fifo")
            QCOMPARE(::mkfifo(t.constData(), 0644), 0);
        else
            QCOMPARE(::symlink("gone.Gdb", t.constData()), 0);
    }
    QTest::mouseClick(f.ui.CmdRipristina, Qt::LeftButton);

    QCOMPARE(rec.reports.size(), 1);
    QCOMPARE(rec.reports[0].number, number);
    QVERIFY(rec.reports[0].text.contains(kDataWin));
    QVERIFY(!rec.ended());
    QVERIFY(f.isVisible());
    QCOMPARE(f.ui.TxtTesto->text(), edited);
    QVERIFY(!runtime::files::isOpen(f.FileNum));
}

void TestLoad::secondReloadDoesNotRepeatText()
{
    testing::Prefix prefix;
    testing::Recorder rec;
    prefix.write(kDataRel, "A = 1\r\nB = 2\r\n");
    load();
    Form1 &f = global<Form1>();
    QTest::mouseClick(f.ui.CmdRipristina, Qt::LeftButton);
    QTest::mouseClick(f.ui.CmdRipristina, Qt::LeftButton);
    QCOMPARE(f.ui.TxtTesto->text(), QString("A = 1\r\nB = 2\r\n"));
    QCOMPARE(f.FileNum, qint16(1));
    QCOMPARE(f.LineText, QString("B = 2"));
    QCOMPARE(f.FilePath, kDataWin);
}

void TestLoad::failedReloadLeavesNoTextForTheNext()
{
    // A read that fails part-way (here: no free file number) must leave
    // nothing behind that a later read would append to.
    testing::Prefix prefix;
    testing::Recorder rec;
    prefix.write(kDataRel, "A = 1\r\n");
    load();
    Form1 &f = global<Form1>();
    f.AllText = QStringLiteral("LEFTOVER");
    for (int n = 1; n <= runtime::files::kMaxFileNumber; ++n)
        runtime::files::OpenInput(n, kDataWin);
    QTest::mouseClick(f.ui.CmdRipristina, Qt::LeftButton);
    QCOMPARE(rec.reports.size(), 1);
    QCOMPARE(rec.reports[0].number, 67);
    QVERIFY(f.AllText.isEmpty());
    QVERIFY(!runtime::files::isOpen(1)); // the failed handler's files are closed
    QTest::mouseClick(f.ui.CmdRipristina, Qt::LeftButton);
    QCOMPARE(f.ui.TxtTesto->text(), QString("A = 1\r\n"));
}

QTEST_MAIN(TestLoad)
#include "test_load.moc"
