#include "runtime/Runtime.h"

#include "runtime/App.h"
#include "runtime/Files.h"
#include "runtime/Forms.h"

#include <QApplication>
#include <QMessageBox>
#include <QWidget>

#include <new>

namespace runtime {
namespace {

ReportHook g_reportHook;
EndHook g_endHook;
bool g_ended = false;
int g_status = 0;

void defaultEnd(int status)
{
    const auto windows = QApplication::topLevelWidgets();
    for (QWidget *w : windows)
        w->hide();
    QCoreApplication::exit(status);
}

void handleError(const RuntimeError &error, OnError onError)
{
    // Nothing stays open between events: a handler that failed part-way
    // leaves no file behind, and an unfinished output never reaches its target.
    files::CloseAll();
    showErrorReport(error);
    if (onError == OnError::EndProgram)
        quit(1);
}

} // namespace

void setReportHook(ReportHook hook) { g_reportHook = std::move(hook); }

// The box's text.
static QString reportMessage(const RuntimeError &error)
{
    return QStringLiteral("Run-time error '%1':\n\n%2").arg(error.number()).arg(error.text());
}

void showErrorReport(const RuntimeError &error)
{
    if (g_reportHook) {
        g_reportHook(error);
        return;
    }
    QMessageBox box(QMessageBox::Critical, App().Title, reportMessage(error), QMessageBox::Ok);
    box.exec();
}

void setEndHook(EndHook hook) { g_endHook = std::move(hook); }

void quit(int status)
{
    if (g_ended)
        return;
    g_ended = true;
    g_status = status;
    if (g_endHook)
        g_endHook(status);
    else
        defaultEnd(status);
}

void End(int status)
{
    quit(status);
    throw ProgramEnded{};
}

bool hasEnded() { return g_ended; }
int exitStatus() { return g_status; }

void dispatch(const std::function<void()> &handler, OnError onError)
{
    if (g_ended)
        return;
    try {
        handler();
    } catch (const ProgramEnded &) {
    } catch (const RuntimeError &error) {
        handleError(error, onError);
    } catch (const std::bad_alloc &) {
        handleError(RuntimeError(OutOfMemory), onError);
    } catch (const std::exception &e) {
        handleError(RuntimeError(InvalidCall, QString::fromUtf8(e.what())), onError);
    }
}

void DoEvents() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

void resetForTest()
{
    files::CloseAll();
    destroyAllForms();
    g_reportHook = {};
    g_endHook = {};
    g_ended = false;
    g_status = 0;
}

} // namespace runtime
