#include "runtime/App.h"

#include "AppInfo.h"

Application builtApp()
{
    return {VELTRANE_MAJOR, VELTRANE_MINOR, VELTRANE_REVISION, QStringLiteral(VELTRANE_TITLE)};
}

Application &App()
{
    static Application app = builtApp();
    return app;
}
