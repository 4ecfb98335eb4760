// The key preview: a window's KeyPress binding takes the character keys sent
// to the window or to any control in it, made before the binding or after,
// ahead of the control; keys of another window, one it owns included, and
// keys that reach a hidden window run nothing.
#include "runtime/Events.h"
#include "runtime/Runtime.h"

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>
#include <QtTest>

#include <functional>
#include <memory>

using runtime::Event;

namespace {

// A window with a key preview that counts the keys it takes.
struct Window {
    std::unique_ptr<QWidget> window = std::make_unique<QWidget>();
    QVBoxLayout *layout = new QVBoxLayout(window.get());
    int previewed = 0;

    template <class W>
    W *add(QWidget *parent = nullptr)
    {
        auto *w = new W(parent ? parent : window.get());
        if (!parent)
            layout->addWidget(w);
        return w;
    }
    void bind()
    {
        runtime::bind(window.get(), Event::KeyPress, [this] { ++previewed; });
    }
    bool show()
    {
        window->show();
        return QTest::qWaitForWindowExposed(window.get());
    }
};

} // namespace

class TestKeyPreview : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { runtime::resetForTest(); }
    void controls_data();
    void controls();
    void otherWindows();
    void hiddenWindow();
};

void TestKeyPreview::controls_data()
{
    // Builds the controls into the window (bind() binds the preview) and
    // says where the key goes.
    using Build = std::function<QWidget *(Window &)>;
    QTest::addColumn<Build>("build");
    QTest::addColumn<int>("key");

    QTest::newRow("the window itself") << Build([](Window &w) {
        w.bind();
        return w.window.get();
    }) << int(Qt::Key_A);
    QTest::newRow("label made before the binding") << Build([](Window &w) {
        QLabel *label = w.add<QLabel>();
        w.bind();
        return label;
    }) << int(Qt::Key_A);
    QTest::newRow("text box made after the binding") << Build([](Window &w) {
        w.bind();
        return w.add<QLineEdit>();
    }) << int(Qt::Key_A);
    QTest::newRow("text box in a frame, both made after") << Build([](Window &w) {
        w.bind();
        return new QLineEdit(w.add<QFrame>());
    }) << int(Qt::Key_Space);
    QTest::newRow("Tab in a text box beside another") << Build([](Window &w) {
        w.bind();
        QLineEdit *first = w.add<QLineEdit>();
        w.add<QLineEdit>();
        return first;
    }) << int(Qt::Key_Tab);
}

void TestKeyPreview::controls()
{
    QFETCH(std::function<QWidget *(Window &)>, build);
    QFETCH(int, key);
    Window w;
    QWidget *target = build(w);
    QVERIFY(w.show());
    target->setFocus();

    QTest::keyClick(target, Qt::Key(key));
    QCOMPARE(w.previewed, 1);
    // Taken ahead of the control: no text typed, the focus stays.
    if (auto *box = qobject_cast<QLineEdit *>(target))
        QCOMPARE(box->text(), QString());
    QCOMPARE(QApplication::focusWidget(), target);

    QTest::keyClick(target, Qt::Key_Left); // types nothing
    QCOMPARE(w.previewed, 1);
}

void TestKeyPreview::otherWindows()
{
    Window w;
    w.bind();
    QVERIFY(w.show());
    // A window of its own, and one the previewing window owns.
    Window other;
    QLineEdit *otherBox = other.add<QLineEdit>();
    QVERIFY(other.show());
    auto *owned = new QWidget(w.window.get(), Qt::Window);
    auto *ownedBox = new QLineEdit(owned);
    owned->show();
    QVERIFY(QTest::qWaitForWindowExposed(owned));

    for (QLineEdit *box : {otherBox, ownedBox}) {
        box->setFocus();
        QTest::keyClick(box, Qt::Key_A);
        QCOMPARE(box->text(), QStringLiteral("a"));
    }
    QCOMPARE(w.previewed, 0);
}

void TestKeyPreview::hiddenWindow()
{
    Window w;
    w.bind();
    QLineEdit *box = w.add<QLineEdit>();
    QVERIFY(w.show());
    w.window->hide();
    // Still in the queue when the window left the screen.
    QCoreApplication::postEvent(box, new QKeyEvent(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, "x"));
    QCoreApplication::postEvent(w.window.get(), new QKeyEvent(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, "x"));
    QCoreApplication::processEvents();
    QCOMPARE(w.previewed, 0);
}

QTEST_MAIN(TestKeyPreview)
#include "test_key_preview.moc"
