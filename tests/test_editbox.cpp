#include "TestSupport.h"
#include "runtime/EditBox.h"

#include <QApplication>
#include <QClipboard>
#include <QDropEvent>
#include <QMimeData>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>

#include <algorithm>
#include <memory>

using runtime::EditBox;

namespace {

using testing::shown;

// "KEY_n = value" lines, `lines` of them, each ended by `lineEnd`.
QString keyLines(int lines, const QString &lineEnd)
{
    QString text;
    text.reserve(qsizetype(lines) * (23 + lineEnd.size()));
    for (int i = 0; i < lines; ++i) {
        text += QStringLiteral("KEY_%1 = value").arg(i).leftJustified(23, u'x');
        text += lineEnd;
    }
    return text;
}

QString latin1Range(char16_t from, char16_t to, const QString &skip = {})
{
    QString text;
    for (char16_t c = from;; ++c) {
        if (!skip.contains(QChar(c)))
            text += QChar(c);
        if (c == to)
            break;
    }
    return text;
}

#define COMPARE_TEXT(actual, expected)                                                             \
    do {                                                                                           \
        const QString actual_ = (actual);                                                          \
        const QString expected_ = (expected);                                                      \
        if (actual_.size() > 2000 || expected_.size() > 2000)                                      \
            QVERIFY2(actual_ == expected_, "texts differ");                                        \
        else                                                                                       \
            QCOMPARE(shown(actual_), shown(expected_));                                            \
    } while (false)

void placeCursor(EditBox &box, int position)
{
    QTextCursor cursor(box.document());
    if (position < 0)
        cursor.movePosition(QTextCursor::End);
    else
        cursor.setPosition(position);
    box.setTextCursor(cursor);
}

void select(EditBox &box, int from, int to)
{
    QTextCursor cursor(box.document());
    cursor.setPosition(from);
    cursor.setPosition(to, QTextCursor::KeepAnchor);
    box.setTextCursor(cursor);
}

QTestEventList keys(std::initializer_list<std::pair<Qt::Key, Qt::KeyboardModifiers>> list)
{
    QTestEventList events;
    for (const auto &[key, modifiers] : list)
        events.addKeyClick(key, modifiers);
    return events;
}

QTestEventList typed(const QString &text)
{
    QTestEventList events;
    events.addKeyClicks(text);
    return events;
}

QTestEventList operator+(QTestEventList a, const QTestEventList &b)
{
    for (QTestEvent *event : b)
        a.append(event->clone());
    return a;
}

// What another instance of the program gets of data that this one offers, as
// Qt's X11 clipboard and drops hand it over: each format as its bytes,
// text/plain without a trailing NUL.
QMimeData *arrivedFromAnotherInstance(const QMimeData &sent)
{
    auto *arrived = new QMimeData;
    for (const QString &format : sent.formats()) {
        QByteArray bytes = sent.data(format);
        if (format == QLatin1String("text/plain") && bytes.endsWith('\0'))
            bytes.chop(1);
        arrived->setData(format, bytes);
    }
    return arrived;
}

// A drag that enters the box and drops at the point, as a drag from another
// program does.
void drop(EditBox &box, const QMimeData *data, QPoint point)
{
    QWidget *target = box.viewport();
    QDragEnterEvent enter(point, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    QDragMoveEvent move(point, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &move);
    QDropEvent dropped(QPointF(point), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &dropped);
}

constexpr Qt::KeyboardModifiers None = Qt::NoModifier;
constexpr Qt::KeyboardModifiers Shift = Qt::ShiftModifier;
constexpr Qt::KeyboardModifiers Ctrl = Qt::ControlModifier;

const std::pair<Qt::Key, Qt::KeyboardModifiers> Enter{Qt::Key_Return, None};
const std::pair<Qt::Key, Qt::KeyboardModifiers> ShiftEnter{Qt::Key_Return, Shift};
const std::pair<Qt::Key, Qt::KeyboardModifiers> Backspace{Qt::Key_Backspace, None};
const std::pair<Qt::Key, Qt::KeyboardModifiers> Delete{Qt::Key_Delete, None};
const std::pair<Qt::Key, Qt::KeyboardModifiers> Undo{Qt::Key_Z, Ctrl};
const std::pair<Qt::Key, Qt::KeyboardModifiers> Redo{Qt::Key_Z, Ctrl | Shift};
const std::pair<Qt::Key, Qt::KeyboardModifiers> DocEnd{Qt::Key_End, Ctrl};
const std::pair<Qt::Key, Qt::KeyboardModifiers> SelectRight{Qt::Key_Right, Shift};
const std::pair<Qt::Key, Qt::KeyboardModifiers> SelectAll{Qt::Key_A, Ctrl};

} // namespace

class TestEditBox : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void unchangedUntilEdited_data();
    void unchangedUntilEdited();
    void editsGiveCrLfText_data();
    void editsGiveCrLfText();
    void loneBreaksKeptAfterEdits_data();
    void loneBreaksKeptAfterEdits();
    void loneBreaksKeptInLargeText();
    void undoToCleanGivesPutText();
    void setTextReplacesEverything();
    void pasteTakesPlainTextOnly();
    void pasteWithoutPlainTextInsertsNothing();
    void pastedLineEndsBecomeCrLf();
    void textFromAnotherInstanceArrivesWhole_data();
    void textFromAnotherInstanceArrivesWhole();
    void pasteTakesTextPlainInACharset_data();
    void pasteTakesTextPlainInACharset();

private:
    EditBox *box_ = nullptr;
};

void TestEditBox::init()
{
    box_ = new EditBox;
    box_->resize(441, 377);
    box_->show();
    box_->setFocus();
}

void TestEditBox::cleanup()
{
    delete box_;
    box_ = nullptr;
    QApplication::clipboard()->clear();
}

void TestEditBox::unchangedUntilEdited_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << QString();
    QTest::newRow("CR LF lines") << QStringLiteral("a\r\nb\r\n");
    QTest::newRow("no trailing break") << QStringLiteral("a\r\nb");
    QTest::newRow("only line ends") << QStringLiteral("\r\n\r\n\r\n");
    QTest::newRow("lone CR") << QStringLiteral("a\rb\r");
    QTest::newRow("lone LF") << QStringLiteral("a\nb\n");
    QTest::newRow("mixed") << QStringLiteral("\n\r\r\n\r\rx\n\n\r\n\r");
    QTest::newRow("NUL") << QString(QStringLiteral("a") + QChar(0) + QStringLiteral("b\r\n") + QChar(0));
    QTest::newRow("no-break space") << QString(QStringLiteral("KEY =") + QChar(0xA0) + QStringLiteral("1\r\n"));
    QTest::newRow("U+0080..U+00FF") << latin1Range(0x80, 0xFF);
    QTest::newRow("separators and frame marks")
        << QString(QStringLiteral("a") + QChar(0x2028) + QStringLiteral("b") + QChar(0x2029) + QStringLiteral("c")
                   + QChar(0xFDD0) + QChar(0xFDD1) + QStringLiteral("\r\n"));
    QTest::newRow("1 MiB line") << QString(1 << 20, u'k');
    QTest::newRow("10 MB of lines") << keyLines(400000, QStringLiteral("\r\n"));
}

void TestEditBox::unchangedUntilEdited()
{
    QFETCH(QString, text);
    box_->setText(text);
    QVERIFY(!box_->document()->isModified());
    COMPARE_TEXT(box_->text(), text);
    QCoreApplication::processEvents(); // painting and layout change nothing
    COMPARE_TEXT(box_->text(), text);
}

void TestEditBox::editsGiveCrLfText_data()
{
    QTest::addColumn<QString>("put");
    QTest::addColumn<int>("cursor"); // -1: the end
    QTest::addColumn<QTestEventList>("events");
    QTest::addColumn<QString>("expected");

    const QString nbsp(QChar(0xA0));
    QString bytes = latin1Range(0x00, 0xFF, QStringLiteral("\r\n"));

    QTest::newRow("type at the end") << QStringLiteral("a\r\nb") << -1 << typed("x") << QStringLiteral("a\r\nbx");
    QTest::newRow("Enter at the end") << QStringLiteral("a\r\nb") << -1 << keys({Enter})
                                      << QStringLiteral("a\r\nb\r\n");
    QTest::newRow("Enter inside a line") << QStringLiteral("ab") << 1 << keys({Enter}) << QStringLiteral("a\r\nb");
    QTest::newRow("Enter on an empty first line") << QStringLiteral("\r\na") << 0 << keys({Enter})
                                                  << QStringLiteral("\r\n\r\na");
    QTest::newRow("Shift+Enter") << QStringLiteral("ab") << 1 << keys({ShiftEnter}) << QStringLiteral("a\r\nb");
    QTest::newRow("Shift+Enter and Enter on one line")
        << QStringLiteral("abc\r\n") << 1 << keys({ShiftEnter}) + typed("x") + keys({Enter})
        << QStringLiteral("a\r\nx\r\nbc\r\n");
    QTest::newRow("Backspace across a line end") << QStringLiteral("a\r\nb") << 2 << keys({Backspace})
                                                 << QStringLiteral("ab");
    QTest::newRow("Delete across a line end") << QStringLiteral("a\r\nb\r\n") << 1 << keys({Delete})
                                              << QStringLiteral("ab\r\n");
    QTest::newRow("Backspace across Shift+Enter") << QStringLiteral("ab") << 1
                                                  << keys({ShiftEnter}) + typed("x") + keys({Backspace, Backspace})
                                                  << QStringLiteral("ab");
    QTest::newRow("no-break space kept") << QString(QStringLiteral("x") + nbsp + QStringLiteral("y\r\n")) << -1
                                         << typed("z") << QString(QStringLiteral("x") + nbsp + QStringLiteral("y\r\nz"));
    QTest::newRow("NUL and U+0001..U+00FF kept") << bytes << -1 << typed("x") << QString(bytes + u'x');
    QTest::newRow("trailing line end") << QStringLiteral("a\r\n") << -1 << typed("q") << QStringLiteral("a\r\nq");
    QTest::newRow("empty box") << QString() << -1 << typed("ab") + keys({Enter}) + typed("c")
                               << QStringLiteral("ab\r\nc");
    QTest::newRow("typed and taken back") << QStringLiteral("a\r\nb") << -1 << typed("x") + keys({Backspace})
                                          << QStringLiteral("a\r\nb");
    QTest::newRow("separators in the put become CR LF")
        << QString(QStringLiteral("a") + QChar(0x2028) + QStringLiteral("b") + QChar(0x2029) + QStringLiteral("c"))
        << -1 << typed("x") << QStringLiteral("a\r\nb\r\ncx");
    QTest::newRow("1 MiB line") << QString(1 << 20, u'k') << -1 << typed("x")
                                << QString(QString(1 << 20, u'k') + u'x');
}

void TestEditBox::editsGiveCrLfText()
{
    QFETCH(QString, put);
    QFETCH(int, cursor);
    QFETCH(QTestEventList, events);
    QFETCH(QString, expected);

    box_->setText(put);
    placeCursor(*box_, cursor);
    events.simulate(box_);
    QVERIFY(box_->document()->isModified());
    COMPARE_TEXT(box_->text(), expected);
}

void TestEditBox::loneBreaksKeptAfterEdits_data()
{
    QTest::addColumn<QString>("put");
    QTest::addColumn<int>("cursor"); // -1: the end
    QTest::addColumn<QTestEventList>("events");
    QTest::addColumn<QString>("expected");

    // Positions count one per line break: in "a\rb\nc" b is at 2, c at 4.
    QTest::newRow("edit elsewhere") << QStringLiteral("a\rb\nc\r\nd") << -1 << typed("x")
                                    << QStringLiteral("a\rb\nc\r\ndx");
    QTest::newRow("edit on the line") << QStringLiteral("ab\rc") << 1 << typed("x") << QStringLiteral("axb\rc");
    QTest::newRow("CR before CR LF, LF before CR") << QStringLiteral("a\r\r\nb\n\rc") << -1 << typed("z")
                                                   << QStringLiteral("a\r\r\nb\n\rcz");
    QTest::newRow("among separators and frame marks")
        << QString(QStringLiteral("a\rb") + QChar(0x2029) + QStringLiteral("c") + QChar(0xFDD0) + QStringLiteral("d")
                   + QChar(0xFDD1) + QStringLiteral("e\nf"))
        << -1 << typed("z") << QStringLiteral("a\rb\r\nc\r\nd\r\ne\nfz");
    QTest::newRow("split a line: old break after the last piece")
        << QStringLiteral("ab\rc") << 1 << keys({Enter}) << QStringLiteral("a\r\nb\rc");
    QTest::newRow("Enter at a line's end") << QStringLiteral("ab\nc") << 2 << keys({Enter})
                                           << QStringLiteral("ab\r\n\nc");
    QTest::newRow("Enter on an empty first line") << QStringLiteral("\ra") << 0 << keys({Enter})
                                                  << QStringLiteral("\r\n\ra");
    QTest::newRow("Shift+Enter") << QStringLiteral("ab\nc") << 1 << keys({ShiftEnter})
                                 << QStringLiteral("a\r\nb\nc");
    QTest::newRow("join with Backspace: second line's break kept")
        << QStringLiteral("a\rb\nc") << 2 << keys({Backspace}) << QStringLiteral("ab\nc");
    QTest::newRow("join with Delete") << QStringLiteral("a\rb\nc") << 1 << keys({Delete}) << QStringLiteral("ab\nc");
    QTest::newRow("selection across lines typed over")
        << QStringLiteral("a\rb\nc\rd") << 1 << keys({SelectRight, SelectRight, SelectRight, SelectRight}) + typed("X")
        << QStringLiteral("aX\rd");
    QTest::newRow("Enter undone, then an edit") << QStringLiteral("a\rb\nc") << 1
                                                << keys({Enter, Undo, DocEnd}) + typed("x")
                                                << QStringLiteral("a\rb\ncx");
    QTest::newRow("join undone, then an edit") << QStringLiteral("a\rb\nc") << 2
                                               << keys({Backspace, Undo, DocEnd}) + typed("x")
                                               << QStringLiteral("a\rb\ncx");
    QTest::newRow("join undone after another edit")
        << QStringLiteral("a\rb\nc") << 0 << typed("q") + keys({{Qt::Key_Right, None}, Delete, Undo})
        << QStringLiteral("qa\rb\nc");
    QTest::newRow("selection typed over, undone, then an edit")
        << QStringLiteral("a\rb\nc\rd") << 1
        << keys({SelectRight, SelectRight, SelectRight, SelectRight}) + typed("X") + keys({Undo, DocEnd}) + typed("x")
        << QStringLiteral("a\rb\nc\rdx");
    QTest::newRow("split undone and redone") << QStringLiteral("ab\rc") << 1 << keys({Enter, Undo, Redo})
                                             << QStringLiteral("a\r\nb\rc");
    QTest::newRow("join undone and redone") << QStringLiteral("a\rb\nc") << 2 << keys({Backspace, Undo, Redo})
                                            << QStringLiteral("ab\nc");
    QTest::newRow("all deleted, undone, then an edit")
        << QStringLiteral("a\rb\n\nc\r") << 0 << keys({SelectAll, Delete, Undo, DocEnd}) + typed("x")
        << QStringLiteral("a\rb\n\nc\rx");
}

void TestEditBox::loneBreaksKeptAfterEdits()
{
    editsGiveCrLfText();
}

void TestEditBox::loneBreaksKeptInLargeText()
{
    const QString half = keyLines(50000, QStringLiteral("\n"));
    box_->setText(half + half);
    placeCursor(*box_, int(half.size()) - 1); // the end of the last line of the first half
    QTest::keyClick(box_, Qt::Key_Return);
    QTest::keyClicks(box_, "NEW = 1");
    COMPARE_TEXT(box_->text(), half.chopped(1) + QStringLiteral("\r\nNEW = 1\n") + half);
}

void TestEditBox::undoToCleanGivesPutText()
{
    const QString put = QString(QStringLiteral("a\rb") + QChar(0xA0) + QChar(0) + QChar(0x2028) + QStringLiteral("c")
                                + QChar(0x2029) + QStringLiteral("d\n\r\n"));
    box_->setText(put);
    placeCursor(*box_, 3);
    QTest::keyClicks(box_, "xy");
    QTest::keyClick(box_, Qt::Key_Return);
    QTest::keyClick(box_, Qt::Key_Backspace);
    QTest::keyClick(box_, Qt::Key_Backspace);
    QVERIFY(box_->document()->isModified());
    for (int i = 0; i < 50 && box_->document()->isUndoAvailable(); ++i)
        QTest::keyClick(box_, Qt::Key_Z, Qt::ControlModifier);
    QVERIFY(!box_->document()->isUndoAvailable());
    COMPARE_TEXT(box_->text(), put);
}

void TestEditBox::setTextReplacesEverything()
{
    box_->setText(QStringLiteral("first\r\nsecond\r\n"));
    placeCursor(*box_, -1);
    QTest::keyClicks(box_, "typed");
    box_->setText(QStringLiteral("new\rtext"));
    QVERIFY(!box_->document()->isModified());
    QVERIFY(!box_->document()->isUndoAvailable()); // nothing to undo back into the old text
    COMPARE_TEXT(box_->text(), QStringLiteral("new\rtext"));
    QCOMPARE(box_->document()->blockCount(), 2);
    QTest::keyClicks(box_, "z"); // the caret is back at the start
    COMPARE_TEXT(box_->text(), QStringLiteral("znew\rtext"));

    // A second put replaces, it does not append; line ends follow the new text.
    box_->setText(QStringLiteral("only\r\n"));
    placeCursor(*box_, -1);
    QTest::keyClicks(box_, "x");
    COMPARE_TEXT(box_->text(), QStringLiteral("only\r\nx"));
    box_->setText(QString());
    COMPARE_TEXT(box_->text(), QString());
    QTest::keyClicks(box_, "y");
    COMPARE_TEXT(box_->text(), QStringLiteral("y"));
}

void TestEditBox::pasteTakesPlainTextOnly()
{
    box_->setText(QStringLiteral("A = 1\r\n"));
    auto *mime = new QMimeData;
    mime->setHtml(QStringLiteral("<b style=\"color:red\">rich</b> <i>words</i><table><tr><td>cell</td></tr></table>"));
    mime->setText(QStringLiteral("plain words"));
    QApplication::clipboard()->setMimeData(mime);
    placeCursor(*box_, -1);
    QTest::keyClick(box_, Qt::Key_V, Qt::ControlModifier);

    COMPARE_TEXT(box_->text(), QStringLiteral("A = 1\r\nplain words"));
    QCOMPARE(box_->document()->blockCount(), 2);
    const QTextBlock pastedLine = box_->document()->lastBlock();
    for (auto it = pastedLine.begin(); !it.atEnd(); ++it) {
        const QTextCharFormat format = it.fragment().charFormat();
        QVERIFY(format.fontWeight() != QFont::Bold);
        QVERIFY(!format.fontItalic());
        QVERIFY(!format.hasProperty(QTextFormat::ForegroundBrush));
    }
}

void TestEditBox::pasteWithoutPlainTextInsertsNothing()
{
    box_->setText(QStringLiteral("A = 1\r\n"));
    auto *mime = new QMimeData;
    mime->setHtml(QStringLiteral("<b>rich</b>"));
    QApplication::clipboard()->setMimeData(mime);
    placeCursor(*box_, -1);
    QTest::keyClick(box_, Qt::Key_V, Qt::ControlModifier);
    QVERIFY(!box_->document()->isModified());
    COMPARE_TEXT(box_->text(), QStringLiteral("A = 1\r\n"));
    COMPARE_TEXT(box_->document()->toRawText(), QString(QStringLiteral("A = 1") + QChar(0x2029)));
}

void TestEditBox::pastedLineEndsBecomeCrLf()
{
    box_->setText(QStringLiteral("a\rb"));
    QApplication::clipboard()->setText(QStringLiteral("x\ny\r\nz\r"));
    placeCursor(*box_, 1);
    QTest::keyClick(box_, Qt::Key_V, Qt::ControlModifier);
    COMPARE_TEXT(box_->text(), QStringLiteral("ax\r\ny\r\nz\r\n\rb"));
}

void TestEditBox::textFromAnotherInstanceArrivesWhole_data()
{
    QTest::addColumn<bool>("dropped"); // else pasted
    QTest::newRow("paste") << false;
    QTest::newRow("drop") << true;
}

void TestEditBox::textFromAnotherInstanceArrivesWhole()
{
    QFETCH(bool, dropped);
    const QString nbsp(QChar(0xA0));
    const QString nul(QChar(0));
    EditBox source;
    source.show();
    source.setText(QStringLiteral("A =") + nbsp + QStringLiteral("1\rB = 2\nK = v") + nul + QStringLiteral("\r\nZ = 9\r\n"));
    select(source, 0, 18); // up to the NUL's line end
    QTest::keyClick(&source, Qt::Key_C, Qt::ControlModifier);
    const QString copied = QStringLiteral("A =") + nbsp + QStringLiteral("1\rB = 2\nK = v") + nul;
    COMPARE_TEXT(QApplication::clipboard()->text(), copied); // other programs' plain text, as before
    std::unique_ptr<QMimeData> arrived(arrivedFromAnotherInstance(*QApplication::clipboard()->mimeData()));
    QVERIFY(!arrived->text().endsWith(nul)); // what the fixture stands for

    box_->setText(QStringLiteral("X = 1\r\n"));
    placeCursor(*box_, -1);
    if (dropped) {
        drop(*box_, arrived.get(), box_->viewport()->rect().bottomRight() - QPoint(2, 2));
    } else {
        QApplication::clipboard()->setMimeData(arrived.release());
        QTest::keyClick(box_, Qt::Key_V, Qt::ControlModifier);
    }
    // As within one box: every character, each pasted break CR LF.
    COMPARE_TEXT(box_->text(), QStringLiteral("X = 1\r\nA =") + nbsp + QStringLiteral("1\r\nB = 2\r\nK = v") + nul);
}

void TestEditBox::pasteTakesTextPlainInACharset_data()
{
    QTest::addColumn<QStringList>("formats");
    QTest::addColumn<QByteArrayList>("bytes");
    QTest::addColumn<QString>("pasted"); // empty: nothing

    const QByteArray utf8("A =\xC2\xA0" "1\r\nB = \xE2\x82\xAC");
    const QString text = QStringLiteral("A =") + QChar(0xA0) + QStringLiteral("1\r\nB = ") + QChar(0x20AC);
    QByteArray utf16;
    for (QChar c : text)
        utf16 += char(c.unicode() & 0xFF), utf16 += char(c.unicode() >> 8);
    QTest::newRow("utf-8 only") << QStringList{"text/plain;charset=utf-8"} << QByteArrayList{utf8} << text;
    QTest::newRow("charset quoted, in capitals, after a blank")
        << QStringList{"text/plain; charset=\"UTF-8\""} << QByteArrayList{utf8} << text;
    QTest::newRow("utf-16le only") << QStringList{"text/plain;charset=utf-16le"} << QByteArrayList{utf16} << text;
    QTest::newRow("text/plain itself first") << QStringList{"text/plain;charset=utf-16le", "text/plain"}
                                             << QByteArrayList{utf16, "plain"} << QStringLiteral("plain");
    QTest::newRow("a charset Qt cannot decode") << QStringList{"text/plain;charset=x-no-such-charset"}
                                                << QByteArrayList{"abc"} << QString();
}

void TestEditBox::pasteTakesTextPlainInACharset()
{
    QFETCH(QStringList, formats);
    QFETCH(QByteArrayList, bytes);
    QFETCH(QString, pasted);
    auto *mime = new QMimeData;
    for (qsizetype i = 0; i < formats.size(); ++i)
        mime->setData(formats[i], bytes[i]);
    QApplication::clipboard()->setMimeData(mime);
    box_->setText(QStringLiteral("X = 1\r\n"));
    placeCursor(*box_, -1);
    QCOMPARE(box_->canPaste(), !pasted.isEmpty());
    QTest::keyClick(box_, Qt::Key_V, Qt::ControlModifier);
    COMPARE_TEXT(box_->text(), QStringLiteral("X = 1\r\n") + pasted);
    QCOMPARE(box_->document()->isModified(), !pasted.isEmpty());
}

QTEST_MAIN(TestEditBox)
#include "test_editbox.moc"
