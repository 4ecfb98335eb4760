#include "runtime/EditBox.h"

#include <QKeyEvent>
#include <QMimeData>
#include <QScrollBar>
#include <QStringDecoder>
#include <QtEndian>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <array>
#include <optional>
#include <vector>

namespace runtime {

namespace {

constexpr char16_t kParagraphSeparator = 0x2029; // between blocks in the raw text
constexpr char16_t kLineSeparator = 0x2028;      // Shift+Enter, inside a block
// Frame marks: QTextCursor::insertText breaks blocks at them too.
constexpr char16_t kFrameStart = 0xFDD0;
constexpr char16_t kFrameEnd = 0xFDD1;

// The character format property that holds a line break's line end. It is
// set on the break itself (the paragraph separator), so it lives and dies
// with that break: the document's own removals, undo and redo carry it. A
// block's char format is the format of the break before it.
constexpr int kLineEndMark = QTextFormat::UserProperty + 1;

const char16_t *chars(const QString &s)
{
    return reinterpret_cast<const char16_t *>(s.constData());
}

// Where QTextCursor::insertText starts a new block (a CR LF pair counts once).
bool breaksBlock(char16_t c)
{
    return c == u'\r' || c == u'\n' || c == kParagraphSeparator || c == kFrameStart || c == kFrameEnd;
}

bool hasBlockBreak(QStringView text)
{
    return std::any_of(text.begin(), text.end(), [](QChar c) { return breaksBlock(c.unicode()); });
}

// Splits text where QTextCursor::insertText would break blocks: onText gets
// each stretch between two breaks that is not empty, onBreak each break's
// characters ("\r\n" for a CR LF pair), in their order.
template <class OnText, class OnBreak>
void splitAtBreaks(QStringView text, OnText onText, OnBreak onBreak)
{
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (!breaksBlock(c))
            continue;
        if (i > start)
            onText(text.sliced(start, i - start));
        const qsizetype length = c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n' ? 2 : 1;
        onBreak(text.sliced(i, length));
        i += length - 1;
        start = i + 1;
    }
    if (start < text.size())
        onText(text.sliced(start));
}

// Would QPlainTextEdit type this key's text? (Printable first character,
// Ctrl and Ctrl+Shift excepted: those are shortcuts.)
bool typesText(const QKeyEvent &event)
{
    const QString text = event.text();
    const Qt::KeyboardModifiers mods = event.modifiers() & ~Qt::KeypadModifier;
    return !text.isEmpty() && text.front().isPrint() && mods != Qt::ControlModifier
        && mods != (Qt::ControlModifier | Qt::ShiftModifier);
}

} // namespace

EditBox::EditBox(QWidget *parent) : QPlainTextEdit(parent)
{
    // Wrapping a long line without blanks costs seconds per keystroke.
    setLineWrapMode(NoWrap);
}

void EditBox::setText(const QString &text)
{
    put_ = text;
    QTextDocument *doc = document();
    // A lone CR or LF is its own line end; CR LF and the other breaks are CR LF.
    const auto lineEndOf = [](QStringView brk) { return brk == u"\r" ? LoneCr : brk == u"\n" ? LoneLf : CrLf; };
    std::array<qsizetype, 3> count{};
    splitAtBreaks(text, [](QStringView) {}, [&](QStringView brk) { ++count[lineEndOf(brk)]; });
    unmarked_ = CrLf;
    if (count[LoneLf] > count[unmarked_])
        unmarked_ = LoneLf;
    if (count[LoneCr] > count[unmarked_])
        unmarked_ = LoneCr;
    marked_ = count[CrLf] + count[LoneCr] + count[LoneLf] > count[unmarked_];

    if (!marked_) {
        // The document's own setPlainText: the widget's one also reformats
        // the whole text afterwards (about a tenth more time on a 10 MB text)
        // to apply a character format this box never sets. It clears the
        // undo history.
        doc->setPlainText(text);
    } else {
        // As setPlainText, but each break that needs a mark gets it as it is
        // made; the making is no edit to undo.
        doc->setUndoRedoEnabled(false);
        QTextCursor cursor(doc);
        cursor.beginEditBlock();
        doc->clear();
        const QTextBlockFormat block;
        const QTextCharFormat plain;
        std::array<QTextCharFormat, 3> mark;
        for (int e = CrLf; e <= LoneLf; ++e)
            if (e != unmarked_)
                mark[e].setProperty(kLineEndMark, e);
        splitAtBreaks(
            text, [&](QStringView line) { cursor.insertText(line.toString(), plain); },
            [&](QStringView brk) { cursor.insertBlock(block, mark[lineEndOf(brk)]); });
        cursor.endEditBlock();
        doc->setUndoRedoEnabled(true);
    }
    doc->setModified(false);
    // The caret, which the insertion carried to the end, goes back to the
    // start, with the view.
    setTextCursor(QTextCursor(doc));
    horizontalScrollBar()->setValue(0);
    verticalScrollBar()->setValue(0);
}

QString EditBox::text() const
{
    return document()->isModified() ? textBetween(0, document()->characterCount() - 1) : put_;
}

QString EditBox::textBetween(int from, int to) const
{
    QTextDocument *doc = document();
    QString raw;
    if (from <= 0 && to >= doc->characterCount() - 1) {
        raw = doc->toRawText();
    } else {
        QTextCursor cursor(doc);
        cursor.setPosition(from);
        cursor.setPosition(to, QTextCursor::KeepAnchor);
        raw = cursor.selectedText();
    }
    const char16_t *const begin = chars(raw);
    const char16_t *const end = begin + raw.size();

    // The raw text holds U+00A0 (toPlainText() would give a blank) and one
    // separator between blocks.
    qsizetype breaks = 0;
    for (const char16_t *p = begin; p != end; ++p)
        breaks += (*p == kParagraphSeparator || *p == kLineSeparator);

    QString out(raw.size() + breaks, Qt::Uninitialized);
    char16_t *o = reinterpret_cast<char16_t *>(out.data());
    QTextBlock block = marked_ ? doc->findBlock(from) : QTextBlock();
    // The line end of each character format the breaks have, by the
    // document's index of the format: looked up once per format.
    const QList<QTextFormat> formats = marked_ ? doc->allFormats() : QList<QTextFormat>();
    std::vector<signed char> lineEndOf(std::size_t(formats.size()), -1);
    auto lineEndBefore = [&](const QTextBlock &b) {
        const int index = b.charFormatIndex();
        if (index < 0 || index >= formats.size())
            return unmarked_;
        signed char &known = lineEndOf[std::size_t(index)];
        if (known < 0) {
            const QVariant mark = formats[index].property(kLineEndMark);
            known = static_cast<signed char>(mark.isValid() ? mark.toInt() : unmarked_);
        }
        return LineEnd(known);
    };
    for (const char16_t *p = begin; p != end; ++p) {
        const char16_t c = *p;
        if (c == kParagraphSeparator) {
            LineEnd lineEnd = unmarked_;
            if (marked_) {
                block = block.next();
                lineEnd = lineEndBefore(block);
            }
            if (lineEnd == LoneCr) {
                *o++ = u'\r';
            } else if (lineEnd == LoneLf) {
                *o++ = u'\n';
            } else {
                *o++ = u'\r';
                *o++ = u'\n';
            }
        } else if (c == kLineSeparator) {
            *o++ = u'\r';
            *o++ = u'\n';
        } else {
            *o++ = c;
        }
    }
    out.truncate(o - chars(out));
    return out;
}

void EditBox::insertTyped(QTextCursor &cursor, QStringView text)
{
    cursor.beginEditBlock();
    cursor.removeSelectedText();
    // The text takes the caret's format without any mark; each new break is
    // CR LF: without a mark where that is what unmarked breaks stand for,
    // else with one.
    QTextCharFormat format = cursor.charFormat();
    format.clearProperty(kLineEndMark);
    QTextCharFormat newBreak = format;
    if (unmarked_ != CrLf && hasBlockBreak(text)) {
        newBreak.setProperty(kLineEndMark, int(CrLf));
        marked_ = true;
    }
    splitAtBreaks(
        text, [&](QStringView line) { cursor.insertText(line.toString(), format); },
        [&](QStringView) { cursor.insertBlock(cursor.blockFormat(), newBreak); });
    cursor.endEditBlock();
}

// Enter, and any typed text that breaks lines, go through insertTyped():
// Qt's own insertion gives a new break the caret's format, which after a
// break is that break's, mark included.
void EditBox::keyPressEvent(QKeyEvent *event)
{
    if (!isReadOnly()) {
        QString typed;
        if (event->matches(QKeySequence::InsertParagraphSeparator))
            typed = QString(QChar(kParagraphSeparator));
        else if (typesText(*event) && hasBlockBreak(event->text()))
            typed = event->text();
        if (!typed.isEmpty()) {
            QTextCursor cursor = textCursor();
            insertTyped(cursor, typed);
            setTextCursor(cursor);
            ensureCursorVisible();
            event->accept();
            return;
        }
    }
    QPlainTextEdit::keyPressEvent(event);
}

// A commit that breaks lines is made here, for the reason above; the rest of
// the event (the preedit) goes to the base class, in the same undo step.
void EditBox::inputMethodEvent(QInputMethodEvent *event)
{
    if (isReadOnly() || !hasBlockBreak(event->commitString())) {
        QPlainTextEdit::inputMethodEvent(event);
        return;
    }
    QTextCursor cursor = textCursor();
    cursor.beginEditBlock();
    cursor.removeSelectedText();
    QTextCursor commit = cursor;
    commit.setPosition(cursor.position() + event->replacementStart());
    commit.setPosition(commit.position() + event->replacementLength(), QTextCursor::KeepAnchor);
    insertTyped(commit, event->commitString());
    setTextCursor(cursor);
    QInputMethodEvent rest(event->preeditString(), event->attributes());
    QPlainTextEdit::inputMethodEvent(&rest);
    cursor.endEditBlock();
    event->setAccepted(rest.isAccepted());
}

namespace {

// The box's own clipboard and drag format: the exact characters, as UTF-16
// code units, little-endian, no byte order mark. text/plain alone does not
// carry them from one instance to another: Qt's X11 clipboard and drops take
// a trailing NUL off it.
const QString kExactText = QStringLiteral("application/x-veltrane-editor-text");
const QString kPlainText = QStringLiteral("text/plain");

QByteArray exactBytes(const QString &text)
{
    QByteArray bytes(text.size() * 2, Qt::Uninitialized);
    qToLittleEndian<char16_t>(text.utf16(), text.size(), bytes.data());
    return bytes;
}

std::optional<QString> exactText(const QByteArray &bytes)
{
    if (bytes.size() % 2 != 0)
        return std::nullopt;
    QString text(bytes.size() / 2, Qt::Uninitialized);
    qFromLittleEndian<char16_t>(bytes.constData(), text.size(), text.data());
    return text;
}

// The charset that a text/plain format names ("text/plain;charset=utf-8"),
// or nothing.
QByteArray plainTextCharset(const QString &format)
{
    const QList<QStringView> parts = QStringView(format).split(u';');
    if (parts.size() < 2 || parts.front().trimmed().compare(kPlainText, Qt::CaseInsensitive) != 0)
        return {};
    for (QStringView part : parts.sliced(1)) {
        part = part.trimmed();
        if (!part.startsWith(u"charset=", Qt::CaseInsensitive))
            continue;
        QStringView name = part.sliced(8).trimmed();
        if (name.size() >= 2 && name.startsWith(u'"') && name.endsWith(u'"'))
            name = name.sliced(1, name.size() - 2);
        return name.toLatin1();
    }
    return {};
}

// A text/plain format in a charset that Qt decodes; empty when none.
QString decodablePlainText(const QMimeData &source)
{
    const QStringList formats = source.formats();
    for (const QString &format : formats) {
        const QByteArray charset = plainTextCharset(format);
        if (!charset.isEmpty() && QStringDecoder(charset.constData()).isValid())
            return format;
    }
    return {};
}

// What pasted or dropped data offers as text, best first: the box's own
// format, text/plain, text/plain in a charset Qt decodes (some programs
// offer nothing else), and what QMimeData makes a text of (URLs).
std::optional<QString> offeredText(const QMimeData &source)
{
    if (source.hasFormat(kExactText))
        if (std::optional<QString> text = exactText(source.data(kExactText)))
            return text;
    if (source.hasFormat(kPlainText))
        return source.text();
    if (const QString format = decodablePlainText(source); !format.isEmpty()) {
        QStringDecoder decode(plainTextCharset(format).constData());
        return QString(decode(source.data(format)));
    }
    if (source.hasText())
        return source.text();
    return std::nullopt;
}

} // namespace

// Cut, copy, the X11 selection and drags: the exact characters, as plain
// text for other programs and in the box's own format. (Qt's own plain text
// turns U+00A0 into a blank and every break into LF.)
QMimeData *EditBox::createMimeDataFromSelection() const
{
    const QTextCursor cursor = textCursor();
    const QString text = textBetween(cursor.selectionStart(), cursor.selectionEnd());
    auto *data = new QMimeData;
    data->setText(text);
    data->setData(kExactText, exactBytes(text));
    return data;
}

bool EditBox::canInsertFromMimeData(const QMimeData *source) const
{
    return source
        && (source->hasFormat(kExactText) || source->hasText() || !decodablePlainText(*source).isEmpty());
}

void EditBox::insertFromMimeData(const QMimeData *source)
{
    const std::optional<QString> text = source ? offeredText(*source) : std::nullopt;
    if (!text)
        return;
    QTextCursor cursor = textCursor();
    insertTyped(cursor, *text);
    setTextCursor(cursor);
    ensureCursorVisible();
}

} // namespace runtime
