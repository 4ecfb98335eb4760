// The start-up window's early close, key by key, on the key events that Qt
// really receives from an X server: the test starts its own Xvfb (German
// layout, so AltGr types), shows the start-up window on the xcb platform
// and types each key of the table through XTest, as a keyboard would. The
// key event carries whatever text X11 gives it (Delete: U+007F), so the
// table shows whether the window is closed by the key or by that text.
#include "TestSupport.h"
#include "editor/Form1.h"
#include "runtime/Forms.h"
#include "splash/frmSplash.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWindow>
#include <QtTest>

#ifdef VELTRANE_HAVE_XTEST
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
// Xlib's event names would shadow Qt's.
#undef KeyPress
#undef KeyRelease
#undef FocusIn
#undef FocusOut
#undef None
#undef Bool
#undef Status
#undef Unsorted
#endif

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

using runtime::exists;
using runtime::global;

namespace {

const QString kDataRel = QStringLiteral("Games/Torvana GP/UserData/game.Gdb");
const QByteArray kData = QByteArrayLiteral("RACELAPS = 58\r\n");

// Runs a program and waits for it; its exit status, or -1.
int run(const std::vector<std::string> &args)
{
    std::vector<char *> argv;
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

// A private Xvfb on a free display, for as long as the object lives.
class XServer {
public:
    XServer()
    {
        int fds[2];
        if (pipe(fds) != 0) {
            error_ = "no pipe";
            return;
        }
        pid_ = fork();
        if (pid_ < 0) {
            error_ = "cannot fork";
            return;
        }
        if (pid_ == 0) {
            close(fds[0]);
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, 1);
            dup2(null, 2);
            const std::string fd = std::to_string(fds[1]);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
                   "-noreset", static_cast<char *>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        // The server writes its display number once it takes connections.
        std::string number;
        pollfd p{fds[0], POLLIN, 0};
        char c;
        while (poll(&p, 1, 30000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n')
            number += c;
        close(fds[0]);
        if (number.empty()) {
            error_ = "Xvfb did not start (tools/install-deps.sh --test installs it)";
            return;
        }
        display_ = ":" + number;
        setenv("DISPLAY", display_.c_str(), 1);
        // A layout with AltGr: AltGr+E types the euro sign.
        layoutSet_ = run({"setxkbmap", "-display", display_, "de"}) == 0;
    }
    ~XServer()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    bool running() const { return !display_.empty(); }
    bool layoutSet() const { return layoutSet_; }
    QString error() const { return QString::fromStdString(error_); }

private:
    pid_t pid_ = -1;
    std::string display_;
    std::string error_;
    bool layoutSet_ = false;
};

XServer *g_server = nullptr;

// The key events that reach a window, as the platform delivered them.
class KeyLog : public QObject {
public:
    struct Key {
        QEvent::Type type;
        int key;
        QString text;
        Qt::KeyboardModifiers modifiers;
    };
    QList<Key> keys;
    int releases() const
    {
        return int(std::count_if(keys.begin(), keys.end(), [](const Key &k) { return k.type == QEvent::KeyRelease; }));
    }
    QString describe() const
    {
        QStringList parts;
        for (const Key &k : keys) {
            QString text;
            for (QChar c : k.text)
                text += QStringLiteral("U+%1").arg(c.unicode(), 4, 16, QLatin1Char('0')).toUpper();
            parts << QStringLiteral("%1 key 0x%2 text [%3] modifiers 0x%4")
                         .arg(k.type == QEvent::KeyPress ? "press" : "release")
                         .arg(k.key, 0, 16)
                         .arg(text)
                         .arg(int(k.modifiers), 0, 16);
        }
        return parts.join(QStringLiteral("; "));
    }

protected:
    bool eventFilter(QObject *, QEvent *e) override
    {
        if (e->type() == QEvent::KeyPress || e->type() == QEvent::KeyRelease) {
            const auto *k = static_cast<QKeyEvent *>(e);
            keys.append({e->type(), k->key(), k->text(), k->modifiers()});
        }
        return false;
    }
};

} // namespace

class TestSplashKeys : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void earlyCloseByKey_data();
    void earlyCloseByKey();

private:
#ifdef VELTRANE_HAVE_XTEST
    Display *display_ = nullptr;
#endif
};

void TestSplashKeys::initTestCase()
{
#ifndef VELTRANE_HAVE_XTEST
    QSKIP("built without XTest (libxtst-dev, tools/install-deps.sh --test)");
#else
    if (!g_server->running())
        QSKIP(qPrintable(g_server->error()));
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
    display_ = XOpenDisplay(nullptr);
    QVERIFY(display_);
    int event, error, major, minor;
    QVERIFY2(XTestQueryExtension(display_, &event, &error, &major, &minor), "the X server has no XTest");
    // The pointer away from the window, so that no pointer move hands over.
    XTestFakeMotionEvent(display_, -1, 0, 0, CurrentTime);
    XSync(display_, False);
#endif
}

void TestSplashKeys::cleanupTestCase()
{
#ifdef VELTRANE_HAVE_XTEST
    if (display_)
        XCloseDisplay(display_);
#endif
}

void TestSplashKeys::earlyCloseByKey_data()
{
    // The keys pressed in order and released in reverse, as X keysym names.
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<bool>("closes");

    struct Row {
        const char *name;
        QStringList keys;
        bool closes;
    };
    const QList<Row> rows = {
        {"letter", {"q"}, true},
        {"capital letter", {"Shift_L", "q"}, true},
        {"digit", {"7"}, true},
        {"punctuation", {"period"}, true},
        {"Space", {"space"}, true},
        {"Enter", {"Return"}, true},
        {"keypad Enter", {"KP_Enter"}, true},
        {"Esc", {"Escape"}, true},
        {"Backspace", {"BackSpace"}, true},
        {"Tab", {"Tab"}, true},
        {"Shift+Tab", {"Shift_L", "Tab"}, true},
        {"Ctrl+letter", {"Control_L", "q"}, true},
        {"Ctrl+Space", {"Control_L", "space"}, true},
        {"AltGr+E (euro sign)", {"ISO_Level3_Shift", "e"}, true},

        {"Delete", {"Delete"}, false},
        {"Left", {"Left"}, false},
        {"Right", {"Right"}, false},
        {"Up", {"Up"}, false},
        {"Down", {"Down"}, false},
        {"Insert", {"Insert"}, false},
        {"Home", {"Home"}, false},
        {"End", {"End"}, false},
        {"Page Up", {"Prior"}, false},
        {"Page Down", {"Next"}, false},
        {"F1", {"F1"}, false},
        {"F12", {"F12"}, false},
        {"keypad 7, Num Lock off (Home)", {"KP_Home"}, false},
        {"Menu key", {"Menu"}, false},
        {"Shift alone", {"Shift_L"}, false},
        {"Ctrl alone", {"Control_L"}, false},
        {"Alt alone", {"Alt_L"}, false},
        {"AltGr alone", {"ISO_Level3_Shift"}, false},
        {"Alt+letter (a menu key)", {"Alt_L", "q"}, false},
        {"Alt+digit", {"Alt_L", "7"}, false},
        {"Ctrl+digit", {"Control_L", "7"}, false},
        {"Ctrl+Alt+letter", {"Control_L", "Alt_L", "q"}, false},
        {"Ctrl+Delete", {"Control_L", "Delete"}, false},
        {"Shift+Delete", {"Shift_L", "Delete"}, false},
    };
    for (const Row &row : rows)
        QTest::newRow(row.name) << row.keys << row.closes;
}

void TestSplashKeys::earlyCloseByKey()
{
#ifdef VELTRANE_HAVE_XTEST
    QFETCH(QStringList, keys);
    QFETCH(bool, closes);

    std::vector<KeyCode> codes;
    for (const QString &name : keys) {
        const KeySym sym = XStringToKeysym(qPrintable(name));
        const KeyCode code = sym == NoSymbol ? 0 : XKeysymToKeycode(display_, sym);
        if (!code && name == QLatin1String("ISO_Level3_Shift") && !g_server->layoutSet())
            QSKIP("no AltGr: setxkbmap (x11-xkb-utils) could not set a layout that has one");
        QVERIFY2(code, qPrintable(QStringLiteral("no key for %1 in the keymap").arg(name)));
        codes.push_back(code);
    }

    testing::Recorder rec;
    testing::Prefix prefix;
    prefix.write(kDataRel, kData);
    runtime::dispatch([] { global<frmSplash>().Show(); });
    frmSplash &splash = global<frmSplash>();
    // No one gives it the keyboard: it takes it itself.
    QVERIFY(QTest::qWaitForWindowActive(&splash, 20000));
    KeyLog log;
    splash.windowHandle()->installEventFilter(&log);

    for (KeyCode code : codes)
        XTestFakeKeyEvent(display_, code, True, CurrentTime);
    for (auto it = codes.rbegin(); it != codes.rend(); ++it)
        XTestFakeKeyEvent(display_, *it, False, CurrentTime);
    XSync(display_, False);

    // A key press is handled before its release arrives: once the window is
    // closed, or every release has come, the key has had its effect.
    QTRY_VERIFY_WITH_TIMEOUT(rec.ended() || log.releases() == int(codes.size()), 20000);
    const QString seen = log.describe();
    QVERIFY(rec.reports.isEmpty());
    if (!closes) {
        QVERIFY2(!rec.ended(), qPrintable(seen));
        QVERIFY(splash.isVisible());
        QVERIFY(splash.isLoaded());
        // X11 attaches the text U+007F to Delete: the window stayed up all the same.
        if (keys == QStringList{QStringLiteral("Delete")})
            QVERIFY2(!log.keys.isEmpty() && log.keys.first().text == QStringLiteral("\x7f"), qPrintable(seen));
        return;
    }
    QVERIFY2(rec.ended(), qPrintable(seen));
    QCOMPARE(rec.ends, QList<int>{0});
    QVERIFY(!splash.isLoaded());
    QVERIFY(!splash.isVisible());
    QVERIFY(!exists<Form1>()); // so its load, with the search, never ran
    QCOMPARE(prefix.read(kDataRel), kData);
#else
    QSKIP("built without XTest");
#endif
}

int main(int argc, char **argv)
{
    XServer server;
    g_server = &server;
    // On the real X server when there is one; without, every test skips.
    qputenv("QT_QPA_PLATFORM", server.running() ? "xcb" : "offscreen");
    QApplication app(argc, argv);
    TestSplashKeys test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_splash_keys.moc"
