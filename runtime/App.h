#pragma once
#include <QString>
#include <QtGlobal>

// The application object: the program's version and title as built, read at
// run time by the start-up window and the error report.
struct Application {
    qint16 Major;
    qint16 Minor;
    qint16 Revision;
    QString Title;
};

// The identity fixed by the build (project name and version).
Application builtApp();

// The application object of the run. It starts as builtApp(); tests may
// change its fields and put builtApp() back afterwards.
Application &App();
