#include "editor/Form2.h"

#include "runtime/CodePage.h"
#include "runtime/RuntimeError.h"

#include <QFile>

Form2::Form2() = default;

void Form2::build()
{
    ui.setupUi(this);
    // The stylesheet paints the black background and the picture; a plain
    // QWidget subclass only draws stylesheet backgrounds when asked to.
    setAttribute(Qt::WA_StyledBackground, true);

    // A .ui font holds whole points only.
    QFont title = ui.Label1->font();
    title.setPointSizeF(9.75);
    ui.Label1->setFont(title);

    // The help text keeps its own line breaks: its lines are laid out as
    // written, double blanks included, and only a line wider than the label
    // wraps.
    QFile text(QStringLiteral(":/texts/help.txt"));
    if (!text.open(QIODevice::ReadOnly))
        runtime::raise(runtime::FileNotFound, text.fileName());
    ui.Label2->setText(runtime::fromAnsi(text.readAll()));

    // Opens at its stored place and size, every time it is loaded.
    setGeometry(132, 39, 466, 473);
}
