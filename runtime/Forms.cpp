#include "runtime/Forms.h"

#include "runtime/Runtime.h"

#include <QCloseEvent>
#include <QPainter>
#include <QScopeGuard>
#include <QWindow>

#include <map>
#include <utility>
#include <vector>

namespace runtime {
namespace detail {
namespace {
std::map<std::type_index, QPointer<Form>> &formSlots()
{
    static std::map<std::type_index, QPointer<Form>> s;
    return s;
}
std::vector<QPointer<Form>> &allForms()
{
    static std::vector<QPointer<Form>> v;
    return v;
}
} // namespace

QPointer<Form> &slot(std::type_index type) { return formSlots()[type]; }
void registerForm(Form *form) { allForms().emplace_back(form); }
} // namespace detail

Form::Form(QWidget *parent) : QWidget(parent) {}
Form::~Form() = default;

void Form::Show()
{
    if (loading_)
        return;
    if (!loaded_) {
        loading_ = true;
        auto done = qScopeGuard([this] { loading_ = false; });
        constexpr Qt::WindowStates kNotNormal = Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen;
        if (windowState() & kNotNormal) {
            // Not through setWindowState(): on a platform window that still
            // exists (or is made for it) a minimised one would be mapped, on
            // the screen before its load and where the window manager likes.
            // The hidden platform window goes; the show below makes a new one
            // in the normal state.
            if (QWindow *window = windowHandle()) {
                window->destroy();
                window->setWindowStates(Qt::WindowNoState);
            }
            overrideWindowState(windowState() & ~kNotNormal);
        }
        build();
        Form_Load();
        loaded_ = true;
        shownSinceLoad_ = false;
    }
    QWidget::show();
    if (!shownSinceLoad_) {
        shownSinceLoad_ = true;
        activateWindow();
    }
}

void Form::Hide()
{
    if (loaded_ || loading_)
        QWidget::hide();
}

void Form::Unload()
{
    if (!loaded_ && !loading_)
        return;
    QWidget::hide();
    loaded_ = false;
    // The controls die once the event being handled has been delivered, so a
    // handler of this window that is still running keeps valid objects.
    const auto children = findChildren<QObject *>(Qt::FindDirectChildrenOnly);
    for (QObject *c : children)
        c->deleteLater();
    if (!anyWindowShownOrLoading())
        quit(0);
}

void Form::closeEvent(QCloseEvent *event)
{
    event->accept();
    Unload();
}

QRect Form::clientRect() const { return rect().adjusted(drawnFrame_, drawnFrame_, -drawnFrame_, -drawnFrame_); }

void Form::drawDialogFrame()
{
    drawnFrame_ = kDialogFrameWidth;
    const QSize client = size();
    auto *area = new QWidget(this);
    area->setGeometry(drawnFrame_, drawnFrame_, client.width(), client.height());
    const auto controls = findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
    for (QWidget *control : controls) {
        if (control == area)
            continue;
        const bool hidden = control->isHidden() && control->testAttribute(Qt::WA_WState_ExplicitShowHide);
        control->setParent(area); // keeps its place, now relative to the client area
        control->setHidden(hidden);
    }
    setFixedSize(client.width() + 2 * drawnFrame_, client.height() + 2 * drawnFrame_);
}

void Form::paintEvent(QPaintEvent *event)
{
    QWidget::paintEvent(event);
    if (!drawnFrame_)
        return;
    // Ring by ring from the outside, as Windows draws a dialog frame: light
    // along the top and the left, dark along the bottom and the right (the
    // corners they share are dark), then the button face.
    const QPalette &pal = palette();
    const std::pair<QPalette::ColorRole, QPalette::ColorRole> rings[kDialogFrameWidth] = {
        {QPalette::Midlight, QPalette::Shadow},
        {QPalette::Light, QPalette::Dark},
        {QPalette::Button, QPalette::Button},
    };
    QPainter p(this);
    QRect r = rect();
    for (const auto &[light, dark] : rings) {
        p.setPen(pal.color(light));
        p.drawLine(r.left(), r.top(), r.right() - 1, r.top());
        p.drawLine(r.left(), r.top(), r.left(), r.bottom() - 1);
        p.setPen(pal.color(dark));
        p.drawLine(r.left(), r.bottom(), r.right(), r.bottom());
        p.drawLine(r.right(), r.top(), r.right(), r.bottom());
        r.adjust(1, 1, -1, -1);
    }
}

bool anyWindowShownOrLoading()
{
    for (const auto &f : detail::allForms())
        if (f && (f->isLoading() || (f->isLoaded() && f->isVisible())))
            return true;
    return false;
}

void destroyAllForms()
{
    auto forms = std::move(detail::allForms());
    detail::allForms().clear();
    detail::formSlots().clear();
    for (const auto &f : forms)
        delete f.data();
}

} // namespace runtime
