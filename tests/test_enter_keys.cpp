// Enter and the keypad's Enter on the main window: on a focused button they
// click it, as Space does; in the editing box they break the line. No button
// becomes the window's default one.
#include "TestSupport.h"
#include "editor/Form1.h"
#include "editor/Form2.h"
#include "runtime/Forms.h"

#include <QApplication>
#include <QWindow>
#include <QtTest>

using runtime::global;

namespace {

const QString kDataRel = QStringLiteral("Games/Apex Circuit Racing/UserData/game.Gdb");
const QString kBackupRel = QStringLiteral("windows/temp/game2.Gdb");

// Keys as the window system delivers them: to the window, which hands them to
// its focus widget.
void press(QWidget &window, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QTest::keyClick(window.windowHandle(), key, modifiers);
}

} // namespace

class TestEnterKeys : public QObject {
    Q_OBJECT
private slots:
    void enterOnFocusedControl_data();
    void enterOnFocusedControl();
};

void TestEnterKeys::enterOnFocusedControl_data()
{
    // Tab presses from the start, where "Save Changes " has the focus; less
    // than 0: Shift+Tab presses (Tab in the box types a tab).
    QTest::addColumn<int>("tabs");
    QTest::addColumn<QString>("control");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("effect");

    struct Target {
        int tabs;
        const char *control;
        const char *effect;
    };
    const Target targets[] = {{0, "CmdSalva", "saved"},   {1, "CmdBackUp", "backed up"},
                              {2, "CmdRipristina", "reloaded"}, {3, "Command5", "help"},
                              {4, "TxtTesto", "line break"}, {-1, "CmdEsci", "ended"}};
    for (const Target &t : targets) {
        QTest::addRow("Enter on %s", t.control) << t.tabs << t.control << int(Qt::Key_Return)
                                                << int(Qt::NoModifier) << t.effect;
        QTest::addRow("keypad Enter on %s", t.control) << t.tabs << t.control << int(Qt::Key_Enter)
                                                       << int(Qt::KeypadModifier) << t.effect;
    }
}

void TestEnterKeys::enterOnFocusedControl()
{
    QFETCH(int, tabs);
    QFETCH(QString, control);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, effect);

    testing::Prefix prefix;
    testing::Recorder rec;
    prefix.write(kDataRel, "A = 1\r\n");
    runtime::dispatch([] { global<Form1>().Show(); });
    QVERIFY(rec.reports.isEmpty());
    Form1 &f = global<Form1>();
    QVERIFY(QTest::qWaitForWindowActive(&f));
    // Each effect leaves its own trace: the box and the file now differ.
    f.ui.TxtTesto->setText(QStringLiteral("B = 2\r\n"));
    prefix.write(kDataRel, "C = 3\r\n");

    QCOMPARE(QApplication::focusWidget(), f.ui.CmdSalva);
    for (int i = 0; i < qAbs(tabs); ++i)
        press(f, tabs > 0 ? Qt::Key_Tab : Qt::Key_Backtab, tabs > 0 ? Qt::NoModifier : Qt::ShiftModifier);
    QCOMPARE(QApplication::focusWidget()->objectName(), control);
    press(f, Qt::Key(key), Qt::KeyboardModifiers(modifiers));

    QStringList effects;
    if (prefix.read(kDataRel) == "B = 2\r\n")
        effects << "saved";
    if (prefix.exists(kBackupRel))
        effects << "backed up";
    if (f.ui.TxtTesto->text() == "C = 3\r\n")
        effects << "reloaded";
    if (runtime::exists<Form2>() && global<Form2>().isVisible())
        effects << "help";
    if (f.ui.TxtTesto->text() == "\r\nB = 2\r\n")
        effects << "line break";
    if (rec.ended())
        effects << "ended";
    QCOMPARE(effects, QStringList{effect});
    QVERIFY(rec.reports.isEmpty());
    if (effect == "backed up")
        QCOMPARE(prefix.read(kBackupRel), QByteArray("B = 2\r\n"));

    for (QPushButton *b : {f.ui.CmdSalva, f.ui.CmdBackUp, f.ui.CmdRipristina, f.ui.Command5, f.ui.CmdEsci})
        QVERIFY2(!b->isDefault() && !b->autoDefault(), qPrintable(b->objectName()));
}

QTEST_MAIN(TestEnterKeys)
#include "test_enter_keys.moc"
