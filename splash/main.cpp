#include "runtime/Forms.h"
#include "runtime/Runtime.h"
#include "splash/frmSplash.h"

#include <QApplication>
#include <QIcon>

#include <thread>

#ifdef Q_OS_LINUX
#include <dlfcn.h>
#endif

namespace {

// Fontconfig, which the first label's measuring needs, spends milliseconds
// reading its configuration and caches. Started on a second thread while the
// main one connects to the display, it adds nothing to the time until the
// start-up window is on the screen. Qt links it already; found at run time,
// so a system without it simply skips this.
std::thread warmUpFonts()
{
#ifdef Q_OS_LINUX
    using Init = int (*)();
    if (auto init = reinterpret_cast<Init>(dlsym(RTLD_DEFAULT, "FcInit")))
        return std::thread(init);
#endif
    return {};
}

} // namespace

int main(int argc, char *argv[])
{
    std::thread fonts = warmUpFonts();
    QApplication app(argc, argv);
    if (fonts.joinable())
        fonts.join();
    // The program ends by its own rules (runtime::Form), not Qt's.
    app.setQuitOnLastWindowClosed(false);
    app.setWindowIcon(QIcon(QStringLiteral(":/pictures/icon.ico")));

    // The start-up window is the start: built, loaded, then shown.
    runtime::dispatch([] {
        frmSplash &splash = runtime::global<frmSplash>();
        splash.Show();
        // The new window takes the keyboard, as a freshly started program's
        // first window does; there may be no window manager to give it.
        splash.activateWindow();
    });
    int status = runtime::hasEnded() ? runtime::exitStatus() : app.exec();
    runtime::destroyAllForms();
    return status;
}
