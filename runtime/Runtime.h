#pragma once
#include "runtime/RuntimeError.h"

#include <functional>

namespace runtime {

// The error report: a message box titled with the program's title
// (App().Title) reading "Run-time error 'N':" and the error's text. Tests
// replace it with a recorder through setReportHook().
using ReportHook = std::function<void(const RuntimeError &)>;
void setReportHook(ReportHook hook); // an empty hook restores the message box
void showErrorReport(const RuntimeError &error);

// The program's end. quit() ends it once the running handler has returned;
// End() ends it at once: it does not return to its caller (it unwinds to the
// event dispatch, and no handler runs after it). Tests replace what the end
// does with setEndHook(); the default hides every window and leaves the
// event loop with the given status.
using EndHook = std::function<void(int status)>;
void setEndHook(EndHook hook); // an empty hook restores the default
void quit(int status = 0);
[[noreturn]] void End(int status = 0);
bool hasEnded();
int exitStatus();

// Thrown by End() to unwind the running handler; only dispatch() catches it.
struct ProgramEnded {};

// What the dispatch does after the error report.
enum class OnError {
    EndProgram, // report, then end the program
    GoOn,       // report, close every open file, and let the program go on
};

// The one point through which every event handler runs. A run-time error
// that leaves the handler (or an out-of-memory failure) ends in the error
// report; what follows depends on `onError`. Once the program has ended no
// further handler runs.
void dispatch(const std::function<void()> &handler, OnError onError = OnError::EndProgram);

// Lets pending window messages run once.
void DoEvents();

// Tests: forget that the program ended, drop the hooks, close open files and
// destroy every window instance.
void resetForTest();

} // namespace runtime
