#include "runtime/Events.h"

#include "runtime/Runtime.h"

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
        widget->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *e) override
    {
        if (watched != widget_)
            return false;
        // A hidden window gets no input: an event still queued for it when it
        // left the screen runs no handler.
        if (!widget_->isVisible())
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
    static bool producesCharacter(const QKeyEvent &k)
    {
        switch (k.key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Escape:
        case Qt::Key_Backspace:
        case Qt::Key_Tab:
            return true;
        default:
            break;
        }
        if (k.text().isEmpty())
            return false;
        // Ctrl+letter gives a control code: a character all the same.
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
    if (event == Event::KeyPress) {
        // Key preview: the window sees the key before the focused control.
        const auto children = widget->findChildren<QWidget *>();
        for (QWidget *child : children)
            new EventBinding(child, event, handler);
    }
    new EventBinding(widget, event, std::move(handler));
}

} // namespace runtime
