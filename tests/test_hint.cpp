// The backup hint: a latch that a pointer move over the lower square shows
// and a pointer move over the upper square hides, whatever buttons or keys
// are held; the frame around the squares takes no pointer events.
#include "TestSupport.h"
#include "editor/Form1.h"
#include "runtime/Forms.h"

#include <QApplication>
#include <QMouseEvent>
#include <QtTest>

using runtime::global;

namespace {

const QString kDataRel = QStringLiteral("Games/Apex Circuit Racing/UserData/game.Gdb");
const QString kHint = QStringLiteral(
    "The backup copy will be collocated in \"C:\\Windows\\Temp\" and called \"Game2\"  to "
    "distinguish it from the original \"Game\" . ");

using Path = QList<QPoint>;

// Points in the main window's client area.
const QPoint kLabel3(36, 308);
const QPoint kLabel2(36, 316);
const QPoint kAway(300, 200); // over the editing box

Path vertical(int x, int from, int to)
{
    Path p;
    const int step = from < to ? 1 : -1;
    for (int y = from; y != to + step; y += step)
        p << QPoint(x, y);
    return p;
}

// Inside the frame's rectangle (24,296 25x33) but off both squares.
Path aroundTheSquares()
{
    Path p;
    for (int x = 24; x < 49; ++x)
        p << QPoint(x, 297) << QPoint(x, 327);
    for (int y = 297; y < 328; ++y)
        p << QPoint(26, y) << QPoint(46, y) << QPoint(30, y) << QPoint(42, y);
    return p;
}

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

    // One pointer move at each point, delivered as the window would: to the
    // control under the point, where pointer-transparent controls are passed
    // over.
    void sweep(const Path &path, Qt::MouseButtons buttons = {}, Qt::KeyboardModifiers keys = {})
    {
        for (const QPoint &p : path) {
            QWidget *target = form->childAt(p);
            if (!target)
                target = form;
            const QPoint local = target->mapFrom(form, p);
            QMouseEvent move(QEvent::MouseMove, local, target->mapToGlobal(local), Qt::NoButton,
                             buttons, keys);
            QApplication::sendEvent(target, &move);
        }
    }
    bool shown() const { return form->ui.Label1->isVisible(); }
};

} // namespace

class TestHint : public QObject {
    Q_OBJECT
private slots:
    void hiddenAtFirstShowWithItsCaption();
    void sweeps_data();
    void sweeps();
    void realPointerThroughTheWindow();
};

void TestHint::hiddenAtFirstShowWithItsCaption()
{
    Session s;
    QVERIFY(s.form->isVisible());
    QVERIFY(!s.shown());
    QCOMPARE(s.form->ui.Label1->text(), kHint);
    QCOMPARE(kHint.size(), 121);
    // Tracking on both squares, or a move without a button never reaches them.
    QVERIFY(s.form->ui.Label2->hasMouseTracking());
    QVERIFY(s.form->ui.Label3->hasMouseTracking());
    QVERIFY(s.form->ui.Shape1->testAttribute(Qt::WA_TransparentForMouseEvents));
    // Away from the squares, nothing happens.
    s.sweep({kAway, QPoint(5, 5), QPoint(600, 400)});
    QVERIFY(!s.shown());
}

void TestHint::sweeps_data()
{
    QTest::addColumn<bool>("shownBefore");
    QTest::addColumn<Path>("path");
    QTest::addColumn<Qt::MouseButtons>("buttons");
    QTest::addColumn<Qt::KeyboardModifiers>("keys");
    QTest::addColumn<bool>("shownAfter");

    struct Case {
        const char *name;
        bool before;
        Path path;
        bool after;
    };
    const Path up = vertical(36, 332, 294);
    const Path down = vertical(36, 294, 332);
    const QList<Case> cases = {
        {"Label2 then away", false, Path{kLabel2, QPoint(60, 316), QPoint(36, 340), kAway}, true},
        {"Label3 then away", true, Path{kLabel3, QPoint(60, 308), kAway}, false},
        {"Label3 while hidden", false, Path{kLabel3}, false},
        {"Label2 while shown", true, Path{kLabel2}, true},
        {"up across both from hidden", false, up, false},
        {"up across both from shown", true, up, false},
        {"down across both from hidden", false, down, true},
        {"down across both from shown", true, down, true},
        {"square corners", false, Path{QPoint(32, 320), QPoint(40, 313)}, true},
        {"frame outside the squares, hidden", false, aroundTheSquares(), false},
        {"frame outside the squares, shown", true, aroundTheSquares(), true},
    };
    struct Held {
        const char *name;
        Qt::MouseButtons buttons;
        Qt::KeyboardModifiers keys;
    };
    const QList<Held> held = {
        {"nothing held", {}, {}},
        {"left button", Qt::LeftButton, {}},
        {"right and middle buttons", Qt::RightButton | Qt::MiddleButton, {}},
        {"shift", {}, Qt::ShiftModifier},
        {"ctrl alt", {}, Qt::ControlModifier | Qt::AltModifier},
        {"left button with shift", Qt::LeftButton, Qt::ShiftModifier},
    };
    for (const Case &c : cases)
        for (const Held &h : held)
            QTest::addRow("%s, %s", c.name, h.name)
                << c.before << c.path << h.buttons << h.keys << c.after;
}

void TestHint::sweeps()
{
    QFETCH(bool, shownBefore);
    QFETCH(Path, path);
    QFETCH(Qt::MouseButtons, buttons);
    QFETCH(Qt::KeyboardModifiers, keys);
    QFETCH(bool, shownAfter);

    Session s;
    s.sweep({shownBefore ? kLabel2 : kLabel3});
    QCOMPARE(s.shown(), shownBefore);
    s.sweep(path, buttons, keys);
    QCOMPARE(s.shown(), shownAfter);
    QVERIFY(s.rec.reports.isEmpty());
    QVERIFY(!s.rec.ended());
}

void TestHint::realPointerThroughTheWindow()
{
    // Moves that enter through the window system and find their control by
    // themselves: mouse tracking and the frame's transparency both matter.
    Session s;
    QWindow *window = s.form->windowHandle();
    QVERIFY(window);
    QVERIFY(QTest::qWaitForWindowExposed(s.form));
    auto move = [window](const QPoint &p) { QTest::mouseMove(window, p); };

    move(QPoint(10, 10));
    move(kLabel2);
    move(kAway);
    QVERIFY(s.shown());
    for (const QPoint &p : aroundTheSquares())
        move(p);
    QVERIFY(s.shown());
    move(kLabel3);
    QVERIFY(!s.shown());
    for (const QPoint &p : vertical(36, 294, 332))
        move(p);
    QVERIFY(s.shown());
}

QTEST_MAIN(TestHint)
#include "test_hint.moc"
