#include "runtime/Forms.h"

#include "runtime/Runtime.h"

#include <QCloseEvent>
#include <QScopeGuard>

#include <map>
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
        build();
        Form_Load();
        loaded_ = true;
    }
    QWidget::show();
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
