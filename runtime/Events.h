#pragma once
#include <QWidget>

#include <functional>

namespace runtime {

// Binds a handler to a widget event that Qt offers no signal for. The
// handler runs through dispatch() with OnError::EndProgram.
//   MouseMove: every pointer move over the widget, buttons held or not
//              (turns mouse tracking on).
//   Click:     a press and release of the left button on the widget itself.
//   KeyPress:  a key that produces a character, typed while the widget or
//              any of its children has the focus (the window's key preview).
//              Decided by the key, as on Windows: letters, digits,
//              punctuation, Space, Enter, Esc, Backspace, Tab, Ctrl+letter
//              and AltGr characters type; Delete, the arrows, Insert, Home,
//              End, Page Up/Down, the function keys, modifiers alone and
//              Alt+key do not.
enum class Event { MouseMove, Click, KeyPress };
void bind(QWidget *widget, Event event, std::function<void()> handler);

} // namespace runtime
