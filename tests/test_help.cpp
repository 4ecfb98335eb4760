// The help window: opened from "Help Guide", one modeless window that is not
// owned by the main window, back at its stored place and size whenever it is
// opened anew, and no obstacle to the main window or to "Exit".
#include "TestSupport.h"
#include "editor/Form1.h"
#include "editor/Form2.h"
#include "runtime/Forms.h"

#include <QApplication>
#include <QPointer>
#include <QWindow>
#include <QtTest>

using runtime::global;

namespace {

const QString kDataRel = QStringLiteral("Games/Torvana GP/UserData/game.Gdb");
const QRect kStoredPlace(132, 39, 466, 473);

// The main window, loaded and shown as at the hand-over.
struct Session {
    testing::Prefix prefix;
    testing::Recorder rec;
    Form1 *form = nullptr;
    Session()
    {
        prefix.write(kDataRel, "RACELAPS = 58\r\n");
        runtime::dispatch([] { global<Form1>().Show(); });
        form = &global<Form1>();
    }
    void clickHelp() { QTest::mouseClick(form->ui.Command5, Qt::LeftButton); }
};

// Every help window there is, or only those on the screen.
QList<Form2 *> helpWindows(bool shownOnly = true)
{
    QList<Form2 *> found;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *f = qobject_cast<Form2 *>(w); f && (f->isVisible() || !shownOnly))
            found << f;
    return found;
}

} // namespace

class TestHelp : public QObject {
    Q_OBJECT
private slots:
    void firstClickOpensModelessUnownedWindow();
    void secondClickMakesNoSecondWindow();
    void closedAndOpenedAgainComesBackAsStored();
    void closedInAnyStateComesBackNormal_data();
    void closedInAnyStateComesBackNormal();
    void mainWindowStaysUsableWhileOpen();
    void exitWhileOpenEndsProgram();
    void helpTextHoldsItsPiecesExactly();
};

void TestHelp::firstClickOpensModelessUnownedWindow()
{
    Session s;
    QVERIFY(!runtime::exists<Form2>());
    s.clickHelp();
    QVERIFY(s.rec.reports.isEmpty());
    QCOMPARE(helpWindows().size(), 1);
    Form2 &help = global<Form2>();
    QCOMPARE(helpWindows().first(), &help);
    QCOMPARE(help.geometry(), kStoredPlace);
    QCOMPARE(help.windowTitle(), QString("Guida di Veltrane Editor 1.0"));
    // Unowned, modeless, with the standard resizable frame.
    QVERIFY(help.isWindow());
    QCOMPARE(help.parentWidget(), nullptr);
    QCOMPARE(help.windowModality(), Qt::NonModal);
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
    QVERIFY(!(help.windowFlags() & Qt::CustomizeWindowHint));
    QVERIFY(help.minimumSize().width() < 466 && help.maximumSize().width() > 466);
    QVERIFY(help.minimumSize().height() < 473 && help.maximumSize().height() > 473);
    QVERIFY(s.form->isVisible());
    // A new window takes the keyboard.
    QTRY_COMPARE(QApplication::activeWindow(), &help);
}

void TestHelp::secondClickMakesNoSecondWindow()
{
    Session s;
    s.clickHelp();
    Form2 &help = global<Form2>();
    QPointer<QLabel> text = help.ui.Label2;
    s.clickHelp();
    s.clickHelp();
    QCOMPARE(helpWindows(false).size(), 1);
    QCOMPARE(&global<Form2>(), &help);
    QVERIFY(help.isVisible());
    // Not built again: the same controls, the same content.
    QVERIFY(text);
    QCOMPARE(help.ui.Label2, text.data());
    QVERIFY(s.rec.reports.isEmpty());
}

void TestHelp::closedAndOpenedAgainComesBackAsStored()
{
    Session s;
    s.clickHelp();
    Form2 &help = global<Form2>();
    const QString title = help.ui.Label1->text();
    const QString text = help.ui.Label2->text();

    help.setGeometry(300, 200, 800, 700);
    QCOMPARE(help.geometry(), QRect(300, 200, 800, 700));
    // Made larger, nothing is laid out again.
    QCOMPARE(help.ui.Label1->geometry(), QRect(64, 8, 337, 25));
    QCOMPARE(help.ui.Label2->geometry(), QRect(8, 40, 457, 433));

    QPointer<QLabel> oldText = help.ui.Label2;
    QVERIFY(help.close());
    QVERIFY(!help.isVisible());
    QVERIFY(!help.isLoaded());
    // Unloaded: its controls go once the close has been delivered.
    QTRY_VERIFY(!oldText);
    // Closing the help window leaves the program running.
    QVERIFY(!s.rec.ended());
    QVERIFY(s.form->isVisible());
    QVERIFY(helpWindows().isEmpty());

    s.clickHelp();
    QCOMPARE(&global<Form2>(), &help);
    QCOMPARE(helpWindows(false).size(), 1);
    QCOMPARE(help.geometry(), kStoredPlace);
    QCOMPARE(help.ui.Label1->text(), title);
    QCOMPARE(help.ui.Label2->text(), text);
    QVERIFY(s.rec.reports.isEmpty());
}

void TestHelp::closedInAnyStateComesBackNormal_data()
{
    QTest::addColumn<Qt::WindowStates>("state");
    QTest::newRow("maximised") << Qt::WindowStates(Qt::WindowMaximized);
    QTest::newRow("minimised") << Qt::WindowStates(Qt::WindowMinimized);
    QTest::newRow("minimised from maximised") << (Qt::WindowMinimized | Qt::WindowMaximized);
    QTest::newRow("full screen") << Qt::WindowStates(Qt::WindowFullScreen);
}

void TestHelp::closedInAnyStateComesBackNormal()
{
    QFETCH(Qt::WindowStates, state);
    Session s;
    s.clickHelp();
    Form2 &help = global<Form2>();
    help.setWindowState(state);
    QTRY_COMPARE(help.windowState() & ~Qt::WindowActive, state);
    QVERIFY(help.close());
    QVERIFY(!help.isLoaded());

    s.clickHelp();
    QVERIFY(help.isVisible());
    QCOMPARE(help.windowState() & ~Qt::WindowActive, Qt::WindowNoState);
    QCOMPARE(help.windowHandle()->windowStates(), Qt::WindowNoState);
    QCOMPARE(help.geometry(), kStoredPlace);
    QTRY_COMPARE(QApplication::activeWindow(), &help);
    QVERIFY(s.rec.reports.isEmpty());
}

void TestHelp::mainWindowStaysUsableWhileOpen()
{
    Session s;
    s.clickHelp();
    QVERIFY(global<Form2>().isVisible());
    QVERIFY(s.form->isEnabled());

    // Reload, edit and save in the main window with the help window open.
    s.prefix.write(kDataRel, "RACELAPS = 70\r\n");
    QTest::mouseClick(s.form->ui.CmdRipristina, Qt::LeftButton);
    QCOMPARE(s.form->ui.TxtTesto->text(), QString("RACELAPS = 70\r\n"));
    s.form->ui.TxtTesto->moveCursor(QTextCursor::End);
    QTest::keyClicks(s.form->ui.TxtTesto, "AISTRENGTH = 99");
    QTest::mouseClick(s.form->ui.CmdSalva, Qt::LeftButton);
    QCOMPARE(s.prefix.read(kDataRel), QByteArray("RACELAPS = 70\r\nAISTRENGTH = 99\r\n"));

    QVERIFY(s.rec.reports.isEmpty());
    QVERIFY(global<Form2>().isVisible());
}

void TestHelp::exitWhileOpenEndsProgram()
{
    Session s;
    s.clickHelp();
    QVERIFY(global<Form2>().isVisible());
    QTest::mouseClick(s.form->ui.CmdEsci, Qt::LeftButton);
    QCOMPARE(s.rec.ends, QList<int>{0});
    QVERIFY(s.rec.reports.isEmpty());
    // No handler runs after the end.
    global<Form2>().close();
    s.clickHelp();
    QVERIFY(!global<Form2>().isVisible());
}

void TestHelp::helpTextHoldsItsPiecesExactly()
{
    Session s;
    s.clickHelp();
    const Form2 &help = global<Form2>();
    QCOMPARE(help.ui.Label1->text(), QString("HELP GUIDE FOR USERS OF VELTRANE EDITOR 1.0"));

    // The pieces, each on a line of its own, with their inner blanks as
    // written (double blanks are not reduced).
    const QStringList pieces = {
        "   The Veltrane Editor 1.0 allows you to  modify some parameters",
        "in Torvana GP simulator. Here a list of modifiable parameters with my editor :",
        "1 ) Time Limit of every session of a Race  ( Practice , Qualify  , WarmUp , Race) .",
        "2 ) Laps-Number of every session of a Race  .",
        "3 ) Setups ( one for Qualify and one for Race ) of other players ( players controlled by Cpu)",
        "4 ) Score System :  you can modify also this ( for example , the winner-driver in a race takes",
        "12 points instead of 10 )  .",
        "To change parameters is sufficient you only modify the relative value ( a number or a",
        "name ) . Example :",
        "QUALIFYLAPS = 12 . QualifyLaps is the parameter  and the number",
        "is the value . Same for the rest . To change the opponents setup you must modify the",
        "namefile  with the extension *.SVM and copy the new file into the Save dir of Torvana GP . ",
    };
    QStringList expected;
    for (int i = 0; i < 7; ++i)
        expected << pieces[i] << QString();
    for (int i = 0; i < 6; ++i)
        expected << QString(); // seven empty lines in all after piece 7
    expected << pieces[7] << pieces[8] + QString(4, ' ') + pieces[9] << pieces[10] << pieces[11];
    QCOMPARE(expected.size(), 24);
    QCOMPARE(help.ui.Label2->text().split('\n'), expected);
    // Shown as plain text: nothing is taken for markup or collapsed.
    QCOMPARE(help.ui.Label2->textFormat(), Qt::PlainText);
}

QTEST_MAIN(TestHelp)
#include "test_help.moc"
