#include "splash/frmSplash.h"

#include "editor/Form1.h"
#include "runtime/Events.h"
#include "runtime/App.h"

#include <QGuiApplication>
#include <QScreen>

using runtime::Event;

namespace {

// A label that sizes itself to its caption; a right-aligned one keeps its
// right edge where it is, the others their left edge.
void sizeToCaption(QLabel *label)
{
    const int right = label->x() + label->width();
    label->adjustSize();
    if (label->alignment() & Qt::AlignRight)
        label->move(right - label->width(), label->y());
}

} // namespace

frmSplash::frmSplash() = default;

void frmSplash::build()
{
    ui.setupUi(this);
    // No caption, no system menu, no minimise or maximise button: no title
    // bar, but a fixed dialog frame, which the window draws itself.
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    drawDialogFrame();

    // Nothing else places a frameless window (there may be no window manager
    // at all), so it centres itself, frame and all, on the screen.
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect s = screen->geometry();
        move(s.x() + (s.width() - width()) / 2, s.y() + (s.height() - height()) / 2);
    }

    // A click on a label or on the picture belongs to that control, never to
    // the frame beneath it.
    const auto controls = ui.Frame1->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
    for (QWidget *control : controls)
        control->setAttribute(Qt::WA_NoMousePropagation);
    // The empty lblCompany would cut off the copyright line's lower pixels.
    ui.lblCopyright->raise();

    for (QLabel *label : {ui.lblVersion, ui.lblPlatform, ui.lblProductName, ui.lblCompanyProduct})
        sizeToCaption(label);

    ui.Picture1->setFocus();

    runtime::bind(ui.lblCompanyProduct, Event::MouseMove, [this] { lblCompanyProduct_MouseMove(); });
    runtime::bind(ui.lblPlatform, Event::MouseMove, [this] { lblPlatform_MouseMove(); });
    runtime::bind(ui.lblProductName, Event::MouseMove, [this] { lblProductName_MouseMove(); });
    runtime::bind(ui.lblWarning, Event::MouseMove, [this] { lblWarning_MouseMove(); });
    runtime::bind(ui.Picture1, Event::MouseMove, [this] { Picture1_MouseMove(); });
    runtime::bind(ui.Frame1, Event::Click, [this] { Frame1_Click(); });
    runtime::bind(this, Event::KeyPress, [this] { Form_KeyPress(); });
}

void frmSplash::Form_Load()
{
    const Application &app = App();
    ui.lblVersion->setText(QStringLiteral("Version ") + QString::number(app.Major) + QLatin1Char('.')
                           + QString::number(app.Minor) + QLatin1Char('.')
                           + QString::number(app.Revision));
    sizeToCaption(ui.lblVersion);
    ui.lblProductName->setText(app.Title);
    sizeToCaption(ui.lblProductName);
}

// The early close: the start-up window is the only window, so unloading it
// ends the program.
void frmSplash::Form_KeyPress() { Unload(); }
void frmSplash::Frame1_Click() { Unload(); }

void frmSplash::lblCompanyProduct_MouseMove() { handOver(); }
void frmSplash::lblPlatform_MouseMove() { handOver(); }
void frmSplash::lblProductName_MouseMove() { handOver(); }
void frmSplash::lblWarning_MouseMove() { handOver(); }
void frmSplash::Picture1_MouseMove() { handOver(); }

// Hide first: a hidden window gets no more input, so nothing can start the
// hand-over again or close the start-up window while the main window loads.
void frmSplash::handOver()
{
    runtime::global<frmSplash>().Hide();
    runtime::global<Form1>().Show();
}
