#include "editor/Form1.h"

#include "editor/Form2.h"
#include "runtime/CodePage.h"
#include "runtime/DrivePath.h"
#include "runtime/Events.h"
#include "runtime/Files.h"
#include "runtime/Runtime.h"
#include "runtime/TreeSearch.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScopeGuard>
#include <QStyleOptionButton>
#include <QStylePainter>

using runtime::OnError;

namespace {
const QString kBackupPath = QStringLiteral("C:\\Windows\\Temp\\game2.Gdb");
const QString kSearching = QStringLiteral("Ricerca in corso, attendere...");
const QString kNotFound = QStringLiteral("File non trovato.");
const QString kCrLf = QStringLiteral("\r\n");
// Draws captions that wrap: a button's caption on two lines where it does
// not fit on one, and a label's text broken anywhere when a word is wider
// than the label (the support address).
class WrappingCaptions : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *o, QEvent *e) override
    {
        if (e->type() != QEvent::Paint)
            return false;
        if (auto *b = qobject_cast<QPushButton *>(o)) {
            QStylePainter p(b);
            QStyleOptionButton opt;
            opt.initFrom(b);
            opt.state |= b->isDown() ? QStyle::State_Sunken : QStyle::State_Raised;
            p.drawControl(QStyle::CE_PushButtonBevel, opt);
            p.setPen(b->palette().color(QPalette::ButtonText));
            p.drawText(b->style()->subElementRect(QStyle::SE_PushButtonContents, &opt, b),
                       Qt::AlignCenter | Qt::TextWordWrap, b->text());
            return true;
        }
        if (auto *l = qobject_cast<QLabel *>(o)) {
            QPainter p(l);
            QTextOption option(l->alignment());
            option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
            p.setPen(l->palette().color(QPalette::WindowText));
            p.drawText(QRectF(l->contentsRect()), l->text(), option);
            return true;
        }
        return false;
    }
};

// Enter and the keypad's Enter click the button that has the focus, as
// Space does. Not through autoDefault: a focused auto-default button turns
// into the default one, which styles draw differently.
class EnterClicks : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *o, QEvent *e) override
    {
        if (e->type() != QEvent::KeyPress)
            return false;
        auto *k = static_cast<QKeyEvent *>(e);
        if ((k->key() != Qt::Key_Return && k->key() != Qt::Key_Enter) || (k->modifiers() & ~Qt::KeypadModifier))
            return false;
        static_cast<QAbstractButton *>(o)->click();
        return true;
    }
};

} // namespace

Form1::Form1() = default;

void Form1::build()
{
    ui.setupUi(this);
    setAttribute(Qt::WA_StyledBackground, true); // the background picture
    auto *captions = new WrappingCaptions(this);
    for (QWidget *w : {static_cast<QWidget *>(ui.CmdSalva), static_cast<QWidget *>(ui.CmdBackUp),
                       static_cast<QWidget *>(ui.CmdRipristina), static_cast<QWidget *>(ui.Command5),
                       static_cast<QWidget *>(ui.CmdEsci), static_cast<QWidget *>(ui.Label5)})
        w->installEventFilter(captions);
    auto *enter = new EnterClicks(this);
    for (QAbstractButton *b : {ui.CmdSalva, ui.CmdBackUp, ui.CmdRipristina, ui.Command5, ui.CmdEsci})
        b->installEventFilter(enter);
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint
                   | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(636, 467);
    setGeometry(85, 38, 636, 467);
    ui.lblResult->setTextFormat(Qt::PlainText);
    ui.Shape1->setAttribute(Qt::WA_TransparentForMouseEvents);
    ui.CmdSalva->setFocus();

    auto click = [this](QAbstractButton *button, void (Form1::*handler)(), OnError onError) {
        connect(button, &QAbstractButton::clicked, this,
                [this, handler, onError] { runtime::dispatch([this, handler] { (this->*handler)(); }, onError); });
    };
    // Once the window is shown a failed reload, save or backup is reported and
    // the program goes on: the user's text in the box must survive it.
    click(ui.CmdRipristina, &Form1::CmdRipristina_Click, OnError::GoOn);
    click(ui.CmdSalva, &Form1::CmdSalva_Click, OnError::GoOn);
    click(ui.CmdBackUp, &Form1::CmdBackUp_Click, OnError::GoOn);
    click(ui.Command5, &Form1::Command5_Click, OnError::EndProgram);
    click(ui.CmdEsci, &Form1::CmdEsci_Click, OnError::EndProgram);
    runtime::bind(ui.Label2, runtime::Event::MouseMove, [this] { Label2_MouseMove(); });
    runtime::bind(ui.Label3, runtime::Event::MouseMove, [this] { Label3_MouseMove(); });
}

void Form1::Form_Load()
{
    QString FoundPath(runtime::kMaxPath, QLatin1Char(' '));
    ui.lblResult->setText(kSearching);
    runtime::DoEvents();

    const QString root = ui.TxtPath->text();
    const QString name = ui.TxtFile->text();
    QByteArray rootAnsi = runtime::toAnsi(root);
    QByteArray nameAnsi = runtime::toAnsi(name);
    QByteArray buffer = runtime::toAnsi(FoundPath); // 260 blanks, then Qt's NUL
    const int result = runtime::SearchTreeForFile(rootAnsi.constData(), nameAnsi.constData(),
                                                  buffer.data());
    FoundPath = runtime::fromAnsi(QByteArrayView(buffer.constData(), runtime::kMaxPath));

    if (static_cast<qint16>(result & 0xFFFF) != 0) {
        const qsizetype nul = FoundPath.indexOf(QChar(u'\0'));
        if (nul < 0)
            runtime::raise(runtime::InvalidCall, QStringLiteral("search result without an end"));
        ui.lblResult->setText(FoundPath.left(nul));
    } else {
        ui.lblResult->setText(kNotFound);
        // The miss text is no file name: never open (or later write) a file by it.
        // Off Windows the report also says where the root lies on disk.
        const QString where = runtime::whereOnDisk(root);
        runtime::raise(runtime::FileNotFound,
                       name + QStringLiteral(" (searched ") + root
                           + (where.isEmpty() ? QString() : QStringLiteral(", which is ") + where + QLatin1Char(','))
                           + QStringLiteral(" and every folder below it)"));
    }

    ReadDataFile();
}

void Form1::ReadDataFile()
{
    // A read that fails part-way must not leave text for the next one.
    auto emptyText = qScopeGuard([this] { AllText.clear(); });

    CrLf = QString(QChar(13)) + QString(QChar(10));
    FilePath = ui.lblResult->text();
    FileNum = static_cast<qint16>(runtime::files::FreeFile());
    runtime::files::OpenInput(FileNum, FilePath);
    while (!runtime::files::Eof(FileNum)) {
        LineText = runtime::files::LineInput(FileNum);
        AllText += LineText;
        AllText += CrLf;
    }
    ui.TxtTesto->setText(AllText);
    AllText = QString();
    runtime::files::Close(FileNum);
}

void Form1::CmdRipristina_Click() { ReadDataFile(); }

namespace {
// Writes the box's text to the target. A text that already ends with its
// line break gets no second one, so saving what was loaded gives back the
// same bytes.
void writeBoxText(int number, const QString &target, const runtime::EditBox &box)
{
    runtime::files::OpenOutput(number, target);
    const QString text = box.text();
    runtime::files::Print(number, text, !text.endsWith(kCrLf));
    runtime::files::Close(number);
}
} // namespace

void Form1::CmdSalva_Click()
{
    const QString target = ui.lblResult->text();
    writeBoxText(4, target, *ui.TxtTesto);
}

void Form1::CmdBackUp_Click() { writeBoxText(5, kBackupPath, *ui.TxtTesto); }

void Form1::Label2_MouseMove() { ui.Label1->setVisible(true); }

void Form1::Label3_MouseMove() { ui.Label1->setVisible(false); }

void Form1::Command5_Click() { runtime::global<Form2>().Show(); }

void Form1::CmdEsci_Click() { runtime::End(0); }
