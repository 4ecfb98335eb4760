#include "runtime/Events.h"

#include "runtime/Runtime.h"

#include <QCoreApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QMouseEvent>

namespace runtime {
namespace {

class EventBinding : public QObject {
public:
    EventBinding(QWidget *widget, Event event, std::function<void()> handler)
        : QObject(widget), widget_(widget), event_(event), handler_(std::move(handler))
    {
        // Key preview: the window sees a key before whichever of its controls
        // it is sent to, including controls made after the binding.
        if (event == Event::KeyPress)
            QCoreApplication::instance()->installEventFilter(this);
        else
            widget->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *e) override
    {
        // The key preview takes the keys of the window and of every control
        // in it; the other bindings their own widget's events.
        const bool ours = event_ == Event::KeyPress
            ? e->type() == QEvent::KeyPress && watched->isWidgetType()
                && (watched == widget_ || widget_->isAncestorOf(static_cast<QWidget *>(watched)))
            : watched == widget_;
        if (!ours)
            return false;
        // A hidden window gets no input: an event still queued for it when it
        // left the screen runs no handler.
        if (!static_cast<QWidget *>(watched)->isVisible())
            return false;
        switch (event_) {
        case Event::MouseMove:
            if (e->type() == QEvent::MouseMove)
                dispatch(handler_);
            break;
        case Event::Click:
            if (e->type() == QEvent::MouseButtonPress) {
                auto *m = static_cast<QMouseEvent *>(e);
                pressed_ = m->button() == Qt::LeftButton;
            } else if (e->type() == QEvent::MouseButtonRelease) {
                auto *m = static_cast<QMouseEvent *>(e);
                const bool inside = widget_->rect().contains(m->position().toPoint());
                if (pressed_ && m->button() == Qt::LeftButton && inside) {
                    pressed_ = false;
                    dispatch(handler_);
                    return true;
                }
                pressed_ = false;
            }
            break;
        case Event::KeyPress:
            if (e->type() == QEvent::KeyPress) {
                auto *k = static_cast<QKeyEvent *>(e);
                if (producesCharacter(*k)) {
                    dispatch(handler_);
                    return true;
                }
            }
            break;
        }
        return false;
    }

private:
    // Decided by the key, as Windows decides whether a key press types a
    // character (WM_CHAR), not by whatever text the platform attaches to it:
    // X11 gives Delete the text U+007F, and Alt+letter its letter.
    static bool producesCharacter(const QKeyEvent &k)
    {
        const Qt::KeyboardModifiers mods = k.modifiers();
        const bool ctrl = mods & Qt::ControlModifier;
        const bool alt = mods & Qt::AltModifier;
        // Alt with a key goes to the menu, the Windows key to the system.
        // Ctrl+Alt is AltGr on Windows, which types; AltGr on X11 is neither.
        if ((alt && !ctrl) || (mods & Qt::MetaModifier))
            return false;
        const int key = k.key();
        switch (key) {
        case Qt::Key_Return:
        case Qt::Key_Enter: // the keypad's
        case Qt::Key_Escape:
        case Qt::Key_Backspace:
        case Qt::Key_Tab:
        case Qt::Key_Backtab: // Shift+Tab
            return true;
        case 0: // a key Qt has no code for: it types what it brings, if anything
            return !k.text().isEmpty();
        default:
            break;
        }
        // Every other named key types nothing: Delete, Insert, Home, End, Page
        // Up and Down, the arrows, the function keys, the modifiers and locks
        // alone, dead keys. Character keys carry their Unicode value.
        if (key >= Qt::Key_Escape)
            return false;
        // With Ctrl, only the keys that have an ASCII control code type it
        // (@, the letters, [ \ ] ^ _: Ctrl+C is 3), and Space its blank; a
        // digit types nothing, whatever code X11 makes of it.
        if (ctrl && !alt)
            return (key >= Qt::Key_At && key <= Qt::Key_Underscore) || key == Qt::Key_Space;
        // Ctrl+Alt types what the layout puts on AltGr there, if anything.
        if (ctrl && alt)
            return !k.text().isEmpty() && k.text().front().isPrint();
        return true;
    }

    QWidget *widget_;
    Event event_;
    std::function<void()> handler_;
    bool pressed_ = false;
};

} // namespace

void bind(QWidget *widget, Event event, std::function<void()> handler)
{
    if (event == Event::MouseMove)
        widget->setMouseTracking(true);
    new EventBinding(widget, event, std::move(handler));
}

} // namespace runtime
