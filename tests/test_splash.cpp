// The start-up window: its frame and place, the version and title it shows,
// the hand-over to the main window, the early close by a click (the keys
// are tried on real X11 key events in test_splash_keys), and events that
// arrive while the main window loads.
// Mouse input goes through the window, as the platform delivers it: to the
// control under the pointer.
#define QTEST_QPA_MOUSE_HANDLING
#include "TestSupport.h"
#include "editor/Form1.h"
#include "runtime/Forms.h"
#include "runtime/App.h"
#include "splash/frmSplash.h"

#include <QApplication>
#include <QDirIterator>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>
#include <QtTest>

using runtime::exists;
using runtime::global;

namespace {

const QString kDataRel = QStringLiteral("Games/Apex Circuit Racing/UserData/game.Gdb");
const QByteArray kData = QByteArrayLiteral("MaxSpeed = 312\r\nGrip=0.87\r\n");

frmSplash &startSplash()
{
    runtime::dispatch([] { global<frmSplash>().Show(); });
    return global<frmSplash>();
}

// Every file under drive C: with its bytes and time of last change.
QMap<QString, QPair<QByteArray, QDateTime>> driveSnapshot(const testing::Prefix &prefix)
{
    QMap<QString, QPair<QByteArray, QDateTime>> files;
    QDirIterator it(prefix.driveC(), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile f(path);
        QByteArray bytes;
        if (QFileInfo(path).isFile() && f.open(QIODevice::ReadOnly))
            bytes = f.readAll();
        files.insert(path, {bytes, QFileInfo(path).lastModified()});
    }
    return files;
}

QPoint centreIn(const QWidget &window, const QWidget *control)
{
    return control->mapTo(&window, control->rect().center());
}

// A point of Frame1 that no control covers.
QPoint bareFramePoint(const frmSplash &splash)
{
    const QPoint p(250, 140);
    return splash.childAt(p) == splash.ui.Frame1 ? p : QPoint(-1, -1);
}

// The pointer comes from a corner of the frame, so every move is a change.
void moveTo(frmSplash &splash, QPoint target)
{
    QTest::mouseMove(&splash, QPoint(2, 2));
    QTest::mouseMove(&splash, target);
}

QWidget *control(frmSplash &splash, const QString &name)
{
    return name == QLatin1String("Frame1") ? static_cast<QWidget *>(splash.ui.Frame1)
                                           : splash.findChild<QWidget *>(name);
}

// Records which input reached a control while the main window was loading.
class LoadTimeSpy : public QObject {
public:
    QList<QEvent::Type> seen;
    bool eventFilter(QObject *, QEvent *e) override
    {
        const auto t = e->type();
        if ((t == QEvent::KeyPress || t == QEvent::MouseMove || t == QEvent::MouseButtonPress
             || t == QEvent::MouseButtonRelease)
            && exists<Form1>() && global<Form1>().isLoading())
            seen.append(t);
        return false;
    }
};

} // namespace

class TestSplash : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { App() = builtApp(); }

    void showsBuiltIdentityCentredWithFocusOnPicture();
    void versionAndTitleFromApp_data();
    void versionAndTitleFromApp();
    void pointerMove_data();
    void pointerMove();
    void failedLoadEndsWithReportAndNoWindow();
    void click_data();
    void click();
    void inputQueuedDuringLoadChangesNothing();
};

void TestSplash::showsBuiltIdentityCentredWithFocusOnPicture()
{
    testing::Recorder rec;
    frmSplash &splash = startSplash();
    QVERIFY(QTest::qWaitForWindowExposed(&splash));

    QCOMPARE(splash.ui.lblVersion->text(), QStringLiteral("Version 1.0.0"));
    QCOMPARE(splash.ui.lblProductName->text(), QStringLiteral("Veltrane Editor"));
    // No title bar; its own 3-pixel dialog frame around the 495 x 277 client
    // area, the whole window centred and of fixed size.
    QVERIFY(splash.windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(splash.size(), QSize(501, 283));
    QCOMPARE(splash.clientRect(), QRect(3, 3, 495, 277));
    QCOMPARE(splash.minimumSize(), splash.maximumSize());
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    QCOMPARE(splash.pos(), QPoint(screen.x() + (screen.width() - 501) / 2,
                                  screen.y() + (screen.height() - 283) / 2));
    // Every control at its stored place in the client area.
    QCOMPARE(splash.ui.Frame1->mapTo(&splash, QPoint(0, 0)), QPoint(3, 3));
    QCOMPARE(splash.ui.Picture1->mapTo(&splash, QPoint(0, 0)), QPoint(3 + 8, 3 + 56));
    QCOMPARE(splash.ui.lblWarning->mapTo(&splash, QPoint(0, 0)), QPoint(3 + 10, 3 + 244));
    // Frame1's extra column and row lie outside the client area: cut off.
    QCOMPARE(splash.ui.Frame1->size(), QSize(496, 278));
    QCOMPARE(splash.ui.Frame1->visibleRegion().boundingRect(), QRect(0, 0, 495, 277));
    // The new window takes the keyboard itself, on the picture.
    QTRY_COMPARE(QApplication::activeWindow(), &splash);
    QCOMPARE(splash.focusWidget(), splash.ui.Picture1);
    QVERIFY(!splash.ui.Picture1->pixmap().isNull());
    QCOMPARE(splash.ui.Picture1->pixmap().size(), QSize(200, 138));
    QVERIFY(!exists<Form1>());
    QVERIFY(rec.reports.isEmpty());
}

void TestSplash::versionAndTitleFromApp_data()
{
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<int>("revision");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("version");

    QTest::newRow("several digits") << 2 << 10 << 305 << "Veltrane Editor" << "Version 2.10.305";
    QTest::newRow("zeros written") << 0 << 0 << 0 << "Veltrane Editor" << "Version 0.0.0";
    QTest::newRow("zero in the middle") << 10 << 0 << 7 << "Veltrane Editor" << "Version 10.0.7";
    QTest::newRow("16-bit maximum") << 32767 << 32767 << 32767 << "Veltrane Editor"
                                    << "Version 32767.32767.32767";
    QTest::newRow("other title") << 1 << 0 << 0 << "Lap Tuner" << "Version 1.0.0";
    QTest::newRow("long title") << 1 << 0 << 0 << "Veltrane Editor Professional Edition"
                                << "Version 1.0.0";
}

void TestSplash::versionAndTitleFromApp()
{
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(int, revision);
    QFETCH(QString, title);
    QFETCH(QString, version);

    testing::Recorder rec;
    App() = {qint16(major), qint16(minor), qint16(revision), title};
    frmSplash &splash = startSplash();

    QCOMPARE(splash.ui.lblVersion->text(), version);
    QCOMPARE(splash.ui.lblProductName->text(), title);

    // Both labels take the size of their new caption: the right-aligned
    // version keeps its right edge, the title its left edge.
    const QLabel *v = splash.ui.lblVersion;
    QCOMPARE(v->x() + v->width(), 457);
    QVERIFY(v->width() >= v->fontMetrics().horizontalAdvance(version));
    QVERIFY(v->width() <= v->fontMetrics().horizontalAdvance(version) + 4);
    const QLabel *t = splash.ui.lblProductName;
    QCOMPARE(t->x(), 216);
    QVERIFY(t->width() >= t->fontMetrics().horizontalAdvance(title));
    QVERIFY(t->width() <= t->fontMetrics().horizontalAdvance(title) + 4);
}

void TestSplash::pointerMove_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("buttonHeld");
    QTest::addColumn<bool>("handsOver");

    for (const char *name : {"Picture1", "lblCompanyProduct", "lblPlatform", "lblProductName", "lblWarning"})
        QTest::addRow("%s", name) << QString::fromLatin1(name) << false << true;
    QTest::newRow("Picture1, button held") << "Picture1" << true << true;
    for (const char *name : {"lblCopyright", "lblCompany", "lblVersion", "lblLicenseTo", "Frame1"})
        QTest::addRow("%s", name) << QString::fromLatin1(name) << false << false;
    QTest::newRow("Frame1, button held") << "Frame1" << true << false;
}

void TestSplash::pointerMove()
{
    QFETCH(QString, target);
    QFETCH(bool, buttonHeld);
    QFETCH(bool, handsOver);

    testing::Recorder rec;
    testing::Prefix prefix;
    prefix.write(kDataRel, kData);
    frmSplash &splash = startSplash();
    QVERIFY(QTest::qWaitForWindowExposed(&splash));

    const QPoint at = target == QLatin1String("Frame1") ? bareFramePoint(splash)
                                                        : centreIn(splash, control(splash, target));
    QVERIFY2(at.x() >= 0, "no bare point of the frame");
    QTest::mouseMove(&splash, QPoint(2, 2));
    if (buttonHeld) {
        QTest::mousePress(&splash, Qt::LeftButton, Qt::NoModifier, at);
        QTest::mouseMove(&splash, at + QPoint(1, 0)); // the smallest move
    } else {
        QTest::mouseMove(&splash, at);
    }

    QVERIFY(rec.reports.isEmpty());
    QVERIFY(!rec.ended());
    QVERIFY(splash.isLoaded());
    if (!handsOver) {
        QVERIFY(splash.isVisible());
        QVERIFY(!exists<Form1>());
        return;
    }
    QVERIFY(!splash.isVisible());
    // Hidden, not unloaded: its controls and captions stay.
    QCOMPARE(splash.ui.lblVersion->text(), QStringLiteral("Version 1.0.0"));
    QVERIFY(exists<Form1>());
    Form1 &main = global<Form1>();
    QVERIFY(main.isLoaded());
    QVERIFY(main.isVisible());
    QCOMPARE(main.ui.TxtTesto->text(), QString::fromLatin1(kData));
    // The main window takes the keyboard, on "Save Changes ".
    QTRY_COMPARE(QApplication::activeWindow(), &main);
    QCOMPARE(QApplication::focusWidget(), main.ui.CmdSalva);

    // The hidden start-up window answers to nothing any more.
    QTest::keyClick(splash.ui.Picture1, Qt::Key_A);
    QTest::mouseClick(splash.ui.Frame1, Qt::LeftButton, Qt::NoModifier, QPoint(250, 140));
    QVERIFY(!rec.ended());
    QVERIFY(splash.isLoaded());
    QCOMPARE(main.findChildren<QWidget *>(QStringLiteral("TxtTesto")).size(), 1);
}

void TestSplash::failedLoadEndsWithReportAndNoWindow()
{
    testing::Recorder rec;
    testing::Prefix prefix; // no data file anywhere on drive C:
    frmSplash &splash = startSplash();
    QVERIFY(QTest::qWaitForWindowExposed(&splash));
    moveTo(splash, centreIn(splash, splash.ui.Picture1));

    QCOMPARE(rec.reports.size(), 1);
    QCOMPARE(rec.reports.first().number, 53);
    QCOMPARE(rec.ends, QList<int>{1});
    QVERIFY(!splash.isVisible());
    QVERIFY(exists<Form1>());
    QVERIFY(!global<Form1>().isVisible());
}

void TestSplash::click_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("doubleClick");
    QTest::addColumn<QString>("outcome");

    QTest::newRow("bare frame") << "Frame1" << false << "closed";
    QTest::newRow("bare frame, double click") << "Frame1" << true << "closed";
    for (const char *name : {"lblCopyright", "lblCompany", "lblVersion", "lblLicenseTo"})
        QTest::addRow("%s", name) << QString::fromLatin1(name) << false << "nothing";
    // On its way to the click the pointer moves over the picture.
    QTest::newRow("Picture1") << "Picture1" << false << "handed over";
}

void TestSplash::click()
{
    QFETCH(QString, target);
    QFETCH(bool, doubleClick);
    QFETCH(QString, outcome);

    testing::Recorder rec;
    testing::Prefix prefix;
    prefix.write(kDataRel, kData);
    const auto before = driveSnapshot(prefix);
    frmSplash &splash = startSplash();
    QVERIFY(QTest::qWaitForWindowExposed(&splash));

    const QPoint at = target == QLatin1String("Frame1") ? bareFramePoint(splash)
                                                        : centreIn(splash, control(splash, target));
    QVERIFY2(at.x() >= 0, "no bare point of the frame");
    QTest::mouseMove(&splash, QPoint(2, 2));
    if (doubleClick)
        QTest::mouseDClick(&splash, Qt::LeftButton, Qt::NoModifier, at);
    else
        QTest::mouseClick(&splash, Qt::LeftButton, Qt::NoModifier, at);
    QApplication::processEvents();

    QVERIFY(rec.reports.isEmpty());
    if (outcome == QLatin1String("closed")) {
        QCOMPARE(rec.ends, QList<int>{0});
        QVERIFY(!splash.isLoaded());
        QVERIFY(!exists<Form1>());
        QCOMPARE(driveSnapshot(prefix), before);
    } else if (outcome == QLatin1String("nothing")) {
        QVERIFY(!rec.ended());
        QVERIFY(splash.isVisible());
        QVERIFY(!exists<Form1>());
    } else {
        QVERIFY(!rec.ended());
        QVERIFY(splash.isLoaded());
        QVERIFY(!splash.isVisible());
        QVERIFY(global<Form1>().isVisible());
    }
}

void TestSplash::inputQueuedDuringLoadChangesNothing()
{
    testing::Recorder rec;
    testing::Prefix prefix;
    prefix.write(kDataRel, kData);
    frmSplash &splash = startSplash();
    QVERIFY(QTest::qWaitForWindowExposed(&splash));

    LoadTimeSpy pictureSpy, frameSpy;
    splash.ui.Picture1->installEventFilter(&pictureSpy);
    splash.ui.Frame1->installEventFilter(&frameSpy);

    // Waiting in the queue when the pointer reaches the picture; the main
    // window's load lets them run.
    const QPointF inPicture(20, 20);
    const QPointF globalPos = splash.ui.Picture1->mapToGlobal(inPicture);
    QCoreApplication::postEvent(splash.ui.Picture1,
                                new QMouseEvent(QEvent::MouseMove, inPicture, globalPos, Qt::NoButton,
                                                Qt::NoButton, Qt::NoModifier));
    QCoreApplication::postEvent(splash.ui.Picture1,
                                new QKeyEvent(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, "x"));
    const QPointF bare(240, 130);
    for (auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease})
        QCoreApplication::postEvent(splash.ui.Frame1,
                                    new QMouseEvent(type, bare, splash.ui.Frame1->mapToGlobal(bare),
                                                    Qt::LeftButton,
                                                    type == QEvent::MouseButtonPress ? Qt::LeftButton
                                                                                     : Qt::NoButton,
                                                    Qt::NoModifier));

    // Sent at once, ahead of the queue.
    QMouseEvent move(QEvent::MouseMove, QPointF(10, 10), splash.ui.Picture1->mapToGlobal(QPointF(10, 10)),
                     Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(splash.ui.Picture1, &move);

    QCOMPARE(pictureSpy.seen, (QList<QEvent::Type>{QEvent::MouseMove, QEvent::KeyPress}));
    // (The key, which nothing takes, travels on up to the frame.)
    QVERIFY(frameSpy.seen.contains(QEvent::MouseButtonPress));
    QVERIFY(frameSpy.seen.contains(QEvent::MouseButtonRelease));
    QApplication::processEvents();

    QVERIFY(rec.reports.isEmpty());
    QVERIFY(!rec.ended());
    QVERIFY(splash.isLoaded());
    QVERIFY(!splash.isVisible());
    QCOMPARE(splash.ui.lblProductName->text(), QStringLiteral("Veltrane Editor"));
    Form1 &main = runtime::global<Form1>();
    QVERIFY(main.isLoaded());
    QVERIFY(main.isVisible());
    QCOMPARE(main.findChildren<QWidget *>(QStringLiteral("TxtTesto")).size(), 1);
    QCOMPARE(main.ui.TxtTesto->text(), QString::fromLatin1(kData));
    int mainWindows = 0;
    for (QWidget *w : QApplication::topLevelWidgets())
        mainWindows += qobject_cast<Form1 *>(w) != nullptr;
    QCOMPARE(mainWindows, 1);
}

QTEST_MAIN(TestSplash)
#include "test_splash.moc"
