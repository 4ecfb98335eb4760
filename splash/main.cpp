#include "runtime/Forms.h"
#include "runtime/Runtime.h"
#include "splash/frmSplash.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // The program ends by its own rules (runtime::Form), not Qt's.
    app.setQuitOnLastWindowClosed(false);
    app.setWindowIcon(QIcon(QStringLiteral(":/pictures/icon.ico")));

    // The start-up window is the start: built, loaded, then shown.
    runtime::dispatch([] { runtime::global<frmSplash>().Show(); });
    int status = runtime::hasEnded() ? runtime::exitStatus() : app.exec();
    runtime::destroyAllForms();
    return status;
}
