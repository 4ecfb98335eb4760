// Every way of editing the box keeps what the user did not edit: random
// sequences of keys, input-method events, drag and drop, cut, copy, paste,
// undo and redo, each checked against an independent model of the text, and
// the fixed cases that once broke it.
//
// VELTRANE_EDIT_STEPS sets how many random steps each seed runs (a longer run
// than CI's); VELTRANE_EDIT_SEEDS how many seeds.
#include "TestSupport.h"
#include "runtime/EditBox.h"

#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QRandomGenerator>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextLayout>

#include <algorithm>
#include <map>
#include <memory>
#include <optional>

namespace {

using testing::shown;

// The drop's own parts are protected: a drop calls them, and so does this
// test, the way Qt's drop does.
class Box : public runtime::EditBox {
public:
    using runtime::EditBox::createMimeDataFromSelection;
    using runtime::EditBox::insertFromMimeData;
};

// The text as an independent model sees it: one character per document
// position, each line break a marker naming its line end.
class Model {
public:
    static constexpr char16_t CrLf = 0xE000, Cr = 0xE001, Lf = 0xE002;

    // The text put: each break keeps its line end.
    static Model put(const QString &text)
    {
        Model m;
        for (qsizetype i = 0; i < text.size(); ++i) {
            if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
                m.text_ += QChar(CrLf);
                ++i;
            } else if (text[i] == u'\r') {
                m.text_ += QChar(Cr);
            } else if (text[i] == u'\n') {
                m.text_ += QChar(Lf);
            } else {
                m.text_ += text[i];
            }
        }
        return m;
    }
    // Text typed, pasted, dropped or committed: every break in it is a new
    // CR LF break.
    static QString entered(const QString &text)
    {
        QString out;
        for (qsizetype i = 0; i < text.size(); ++i) {
            const QChar c = text[i];
            if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
                out += QChar(CrLf);
                ++i;
            } else if (c == u'\r' || c == u'\n' || c == QChar(0x2029)) {
                out += QChar(CrLf);
            } else {
                out += c;
            }
        }
        return out;
    }

    qsizetype size() const { return text_.size(); }
    void replace(qsizetype from, qsizetype to, const QString &enteredText)
    {
        text_.replace(from, to - from, enteredText);
    }
    // What the document holds: one separator between blocks.
    QString shape() const
    {
        QString s = text_;
        for (QChar &c : s)
            if (c == QChar(CrLf) || c == QChar(Cr) || c == QChar(Lf))
                c = QChar(0x2029);
        return s;
    }
    // The characters from..to as the box gives them.
    QString rendered(qsizetype from = 0, qsizetype to = -1) const
    {
        if (to < 0)
            to = text_.size();
        QString out;
        for (qsizetype i = from; i < to; ++i) {
            switch (text_[i].unicode()) {
            case CrLf:
            case 0x2028:
                out += QStringLiteral("\r\n");
                break;
            case Cr:
                out += u'\r';
                break;
            case Lf:
                out += u'\n';
                break;
            default:
                out += text_[i];
            }
        }
        return out;
    }

private:
    QString text_;
};

// One step of a sequence. Positions are taken modulo the text's length at
// the time the step runs, so any subsequence still runs.
struct Step {
    enum Kind {
        Place,       // a: caret position
        Select,      // a, b: selection ends
        Type,        // text: one character, as a key with that text
        Enter,
        ShiftEnter,
        Backspace,
        Delete,
        Cut,
        Copy,
        Paste,
        SetClipboard, // text
        ImCommit,     // text: commit; a: replacement start back from the caret; b: its length
        ImPreedit,    // text: preedit (empty cancels it)
        DragMove,     // a, b: selection; c: drop point
        DragCopy,     // a, b: selection; c: drop point
        Undo,
        Redo,
        UndoAll,
        RedoAll,
    };
    Kind kind;
    quint32 a = 0, b = 0, c = 0;
    QString text = {};

    QString describe() const
    {
        static const char *const names[] = {"Place",     "Select",  "Type",      "Enter",    "ShiftEnter",
                                            "Backspace", "Delete",  "Cut",       "Copy",     "Paste",
                                            "SetClipboard", "ImCommit", "ImPreedit", "DragMove", "DragCopy",
                                            "Undo",      "Redo",    "UndoAll",   "RedoAll"};
        QString s = QString::fromLatin1(names[kind]);
        switch (kind) {
        case Place:
            return s + QStringLiteral("(%1)").arg(a);
        case Select:
            return s + QStringLiteral("(%1, %2)").arg(a).arg(b);
        case Type:
        case SetClipboard:
        case ImPreedit:
            return s + QStringLiteral("(\"%1\")").arg(shown(text));
        case ImCommit:
            return s + QStringLiteral("(\"%1\", back %2, length %3)").arg(shown(text)).arg(a).arg(b);
        case DragMove:
        case DragCopy:
            return s + QStringLiteral("(%1, %2 -> %3)").arg(a).arg(b).arg(c);
        default:
            return s;
        }
    }
};

using Steps = QList<Step>;

// Runs steps on a fresh box and checks the box against the model after each.
class Runner {
public:
    // The failure, or an empty text; *failedAt is the step that failed.
    QString run(const QString &put, const Steps &steps, int *failedAt = nullptr, QString *finalText = nullptr)
    {
        box_ = std::make_unique<Box>();
        box_->resize(441, 377);
        box_->show();
        box_->setFocus();
        QApplication::clipboard()->clear();
        clipboard_.reset();
        put_ = put;
        box_->setText(put);
        model_ = Model::put(put);
        states_.clear();
        states_[0] = model_;
        QString failure = check(QStringLiteral("the put"));
        for (int i = 0; failure.isEmpty() && i < steps.size(); ++i) {
            failure = apply(steps[i]);
            if (failure.isEmpty())
                failure = check(steps[i].describe());
            if (!failure.isEmpty() && failedAt)
                *failedAt = i;
        }
        if (finalText)
            *finalText = box_->text();
        box_.reset();
        return failure;
    }

private:
    QTextDocument *doc() const { return box_->document(); }
    qsizetype at(quint32 r) const { return qsizetype(r % quint32(model_.size() + 1)); }
    QTextCursor cursor() const { return box_->textCursor(); }

    void key(Qt::Key k, Qt::KeyboardModifiers mods = Qt::NoModifier)
    {
        QTest::keyClick(box_.get(), k, mods);
    }
    void typeText(const QString &text)
    {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, text);
        QApplication::sendEvent(box_.get(), &press);
        QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, text);
        QApplication::sendEvent(box_.get(), &release);
    }
    void select(qsizetype from, qsizetype to)
    {
        QTextCursor c(doc());
        c.setPosition(int(from));
        c.setPosition(int(to), QTextCursor::KeepAnchor);
        box_->setTextCursor(c);
    }
    // Replaces the selection (or inserts at the caret) in the model.
    void enterOverSelection(const QString &text)
    {
        const QTextCursor c = cursor();
        model_.replace(c.selectionStart(), c.selectionEnd(), Model::entered(text));
    }
    QString checkClipboard()
    {
        const QString now = QApplication::clipboard()->text();
        if (clipboard_ && now != *clipboard_)
            return QStringLiteral("the clipboard holds %1, not %2").arg(shown(now), shown(*clipboard_));
        return {};
    }
    // As Qt's drop: one edit block that removes the selection (for a move)
    // and then inserts the dragged data at the drop point.
    void drop(qsizetype from, qsizetype to, qsizetype point, bool move)
    {
        select(from, to);
        std::unique_ptr<QMimeData> data(box_->createMimeDataFromSelection());
        const QString dragged = model_.rendered(from, to);
        QTextCursor insertion(doc());
        insertion.setPosition(int(point));
        insertion.beginEditBlock();
        if (move) {
            QTextCursor selection = cursor();
            selection.removeSelectedText();
            model_.replace(from, to, {});
            point = point <= from ? point : point >= to ? point - (to - from) : from;
        }
        box_->setTextCursor(insertion);
        box_->insertFromMimeData(data.get());
        insertion.endEditBlock();
        model_.replace(point, point, Model::entered(dragged));
    }

    QString apply(const Step &s)
    {
        bool edit = true;
        switch (s.kind) {
        case Step::Place: {
            QTextCursor c(doc());
            c.setPosition(int(at(s.a)));
            box_->setTextCursor(c);
            edit = false;
            break;
        }
        case Step::Select:
            select(at(s.a), at(s.b));
            edit = false;
            break;
        case Step::Type:
            enterOverSelection(s.text);
            typeText(s.text);
            break;
        case Step::Enter:
            enterOverSelection(QStringLiteral("\r\n"));
            key(Qt::Key_Return);
            break;
        case Step::ShiftEnter:
            enterOverSelection(QString(QChar(0x2028)));
            key(Qt::Key_Return, Qt::ShiftModifier);
            break;
        case Step::Backspace:
        case Step::Delete: {
            const QTextCursor c = cursor();
            qsizetype from = c.selectionStart(), to = c.selectionEnd();
            if (from == to) {
                if (s.kind == Step::Backspace)
                    from = std::max<qsizetype>(0, from - 1);
                else
                    to = std::min(model_.size(), to + 1);
            }
            model_.replace(from, to, {});
            key(s.kind == Step::Backspace ? Qt::Key_Backspace : Qt::Key_Delete);
            break;
        }
        case Step::Cut:
        case Step::Copy: {
            const QTextCursor c = cursor();
            if (c.hasSelection()) {
                clipboard_ = model_.rendered(c.selectionStart(), c.selectionEnd());
                if (s.kind == Step::Cut)
                    model_.replace(c.selectionStart(), c.selectionEnd(), {});
            }
            key(s.kind == Step::Cut ? Qt::Key_X : Qt::Key_C, Qt::ControlModifier);
            if (const QString bad = checkClipboard(); !bad.isEmpty())
                return bad;
            edit = s.kind == Step::Cut;
            break;
        }
        case Step::Paste:
            if (clipboard_)
                enterOverSelection(*clipboard_);
            key(Qt::Key_V, Qt::ControlModifier);
            break;
        case Step::SetClipboard:
            QApplication::clipboard()->setText(s.text);
            clipboard_ = s.text;
            edit = false;
            break;
        case Step::ImCommit:
        case Step::ImPreedit: {
            // What Qt's input-method handling does with the document: a new
            // commit, preedit or replacement takes the selection away, then
            // the commit replaces the replacement range.
            const QTextCursor c = cursor();
            const QString preedit = s.kind == Step::ImPreedit ? s.text : QString();
            const QString commit = s.kind == Step::ImCommit ? s.text : QString();
            const qsizetype caretAfterRemoval = c.selectionStart();
            const qsizetype remaining = model_.size() - (c.selectionEnd() - c.selectionStart());
            const qsizetype back = s.kind == Step::ImCommit ? std::min<qsizetype>(s.a, caretAfterRemoval) : 0;
            const qsizetype length =
                s.kind == Step::ImCommit ? std::min<qsizetype>(s.b, remaining - (caretAfterRemoval - back)) : 0;
            const bool gettingInput =
                !commit.isEmpty() || preedit != c.block().layout()->preeditAreaText() || length > 0;
            if (gettingInput && c.hasSelection())
                model_.replace(c.selectionStart(), c.selectionEnd(), {});
            const qsizetype caret = gettingInput ? caretAfterRemoval : c.position();
            if (!commit.isEmpty() || length > 0)
                model_.replace(caret - back, caret - back + length, Model::entered(commit));
            QInputMethodEvent event(preedit, {});
            if (s.kind == Step::ImCommit)
                event.setCommitString(commit, int(-back), int(length));
            QApplication::sendEvent(box_.get(), &event);
            edit = gettingInput;
            break;
        }
        case Step::DragMove:
        case Step::DragCopy: {
            const qsizetype x = at(s.a), y = at(s.b);
            if (x == y)
                return {};
            drop(std::min(x, y), std::max(x, y), at(s.c), s.kind == Step::DragMove);
            break;
        }
        case Step::Undo:
        case Step::Redo:
        case Step::UndoAll:
        case Step::RedoAll: {
            const bool undo = s.kind == Step::Undo || s.kind == Step::UndoAll;
            const bool all = s.kind == Step::UndoAll || s.kind == Step::RedoAll;
            for (int i = 0; i < (all ? 100000 : 1); ++i) {
                if (undo ? !doc()->isUndoAvailable() : !doc()->isRedoAvailable())
                    break;
                key(Qt::Key_Z, undo ? Qt::ControlModifier : Qt::ControlModifier | Qt::ShiftModifier);
            }
            const auto state = states_.find(doc()->availableUndoSteps());
            if (state == states_.end())
                return QStringLiteral("undo or redo reached a state that no edit made");
            model_ = state->second;
            return {};
        }
        }
        if (edit) {
            // Qt groups edits into undo steps by its own rules (it merges
            // typing): each count of undo commands names the text it stands
            // for, and an edit ends the texts that redo could bring back.
            const int undoCount = doc()->availableUndoSteps();
            if (!doc()->isRedoAvailable())
                states_.erase(states_.upper_bound(undoCount), states_.end());
            states_[undoCount] = model_;
        }
        return {};
    }

    QString check(const QString &what)
    {
        const QString shape = doc()->toRawText();
        if (shape != model_.shape())
            return QStringLiteral("after %1 the document holds %2, the model %3")
                .arg(what, shown(shape), shown(model_.shape()));
        const QString expected = doc()->isModified() ? model_.rendered() : put_;
        const QString got = box_->text();
        if (got != expected)
            return QStringLiteral("after %1 text() is %2, expected %3").arg(what, shown(got), shown(expected));
        return {};
    }

    std::unique_ptr<Box> box_;
    QString put_;
    Model model_;
    std::map<int, Model> states_; // the model at each count of undo commands
    std::optional<QString> clipboard_;
};

// Characters the texts are made of: ASCII, NUL, U+00A0, Windows-1252's
// letters and signs above 0x7F.
const QString &alphabet()
{
    static const QString chars = QString::fromUtf8("ab =1.") + QChar(0) + QChar(0xA0) + QChar(0xE9) + QChar(0x20AC)
        + QChar(0x0152) + QChar(0x017E) + QChar(0x2019) + QChar(0xFF);
    return chars;
}

// What a key can type: all of them but NUL.
QChar typable(QRandomGenerator &random)
{
    QChar c = alphabet()[random.bounded(int(alphabet().size()))];
    return c.unicode() == 0 ? QChar(u'n') : c;
}

QString randomChars(QRandomGenerator &random, int most, bool breaks)
{
    static const QString lineEnds[] = {QStringLiteral("\r\n"), QStringLiteral("\r"), QStringLiteral("\n")};
    QString text;
    const int n = int(random.bounded(most + 1));
    for (int i = 0; i < n; ++i) {
        if (breaks && random.bounded(4) == 0) {
            text += lineEnds[random.bounded(3)];
            continue;
        }
        text += alphabet()[random.bounded(int(alphabet().size()))];
    }
    return text;
}

// A text of lines with mixed line ends; `lean` picks how often each kind
// comes, so that every kind is sometimes the most common one.
QString randomPut(QRandomGenerator &random)
{
    static const QString lineEnds[] = {QStringLiteral("\r\n"), QStringLiteral("\r"), QStringLiteral("\n")};
    const int lean = int(random.bounded(3));
    QString text;
    const int lines = int(random.bounded(1, 10));
    for (int i = 0; i < lines; ++i) {
        text += randomChars(random, 6, false);
        const int kind = random.bounded(2) == 0 ? lean : int(random.bounded(3));
        if (i + 1 < lines || random.bounded(2) == 0)
            text += lineEnds[kind];
    }
    return text;
}

Steps randomSteps(QRandomGenerator &random, int count)
{
    Steps steps;
    auto r = [&random] { return random.generate() % 1000; };
    while (steps.size() < count) {
        // Where the next edit happens: a caret or a selection.
        if (random.bounded(3) == 0)
            steps.append(Step{Step::Select, r(), r()});
        else
            steps.append(Step{Step::Place, r()});
        // Steps without data, undo the most common among them.
        static const Step::Kind plain[] = {Step::Enter, Step::ShiftEnter, Step::Backspace, Step::Delete,
                                           Step::Cut,   Step::Copy,       Step::Undo,      Step::Undo,
                                           Step::Undo,  Step::Redo,       Step::UndoAll,   Step::RedoAll};
        const int pick = int(random.bounded(int(std::size(plain)) + 6));
        if (pick < int(std::size(plain))) {
            steps.append(Step{plain[pick]});
        } else if (pick == int(std::size(plain))) {
            steps.append(Step{Step::Type, 0, 0, 0, QString(typable(random))});
        } else if (pick == int(std::size(plain)) + 1) {
            if (random.bounded(3) == 0)
                steps.append(Step{Step::SetClipboard, 0, 0, 0, randomChars(random, 6, true) + u'p'});
            steps.append(Step{Step::Paste});
        } else if (pick == int(std::size(plain)) + 2) {
            steps.append(Step{Step::ImCommit, quint32(random.bounded(3)), quint32(random.bounded(3)), 0,
                              randomChars(random, 3, random.bounded(3) == 0) + u'c'});
        } else if (pick == int(std::size(plain)) + 3) {
            steps.append(Step{Step::ImPreedit, 0, 0, 0, random.bounded(3) ? QStringLiteral("'") : QString()});
        } else {
            steps.append(Step{random.bounded(2) ? Step::DragMove : Step::DragCopy, r(), r(), r()});
        }
    }
    return steps;
}

int envNumber(const char *name, int fallback)
{
    bool ok = false;
    const int n = qEnvironmentVariableIntValue(name, &ok);
    return ok && n > 0 ? n : fallback;
}

// The shortest sequence found that still fails: drops ever smaller chunks of
// steps while the rest keeps failing.
Steps shrink(const QString &put, Steps steps)
{
    Runner runner;
    for (qsizetype chunk = steps.size() / 2; chunk >= 1; chunk /= 2) {
        for (qsizetype from = 0; from < steps.size();) {
            Steps shorter = steps;
            shorter.remove(from, std::min(chunk, steps.size() - from));
            if (!runner.run(put, shorter).isEmpty())
                steps = shorter;
            else
                from += chunk;
        }
    }
    return steps;
}

} // namespace

Q_DECLARE_METATYPE(Steps)

class TestEditBoxEdits : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { QApplication::clipboard()->clear(); }

    void fixedCases_data();
    void fixedCases();
    void copyCarriesExactCharacters_data();
    void copyCarriesExactCharacters();
    void randomEdits_data();
    void randomEdits();
};

void TestEditBoxEdits::fixedCases_data()
{
    QTest::addColumn<QString>("put");
    QTest::addColumn<Steps>("steps");
    QTest::addColumn<QString>("expected");

    const QString nbsp(QChar(0xA0));
    QTest::newRow("input-method commit keeps the line's lone LF")
        << QStringLiteral("ab\ncd\r\n") << Steps{{Step::Place, 0}, {Step::ImCommit, 0, 0, 0, QStringLiteral("x")}}
        << QStringLiteral("xab\ncd\r\n");
    QTest::newRow("cancelled composition, then undo")
        << QStringLiteral("a\rb\nc")
        << Steps{{Step::Place, 5}, {Step::Type, 0, 0, 0, QStringLiteral("x")}, {Step::Place, 2},
                 {Step::Backspace}, {Step::Place, 1}, {Step::ImPreedit, 0, 0, 0, QStringLiteral("'")},
                 {Step::ImPreedit}, {Step::Undo}}
        << QStringLiteral("a\rb\ncx");
    QTest::newRow("drag-move of a line with its break")
        << QStringLiteral("x\ra\nb\r\nc") << Steps{{Step::DragMove, 0, 2, 7}} << QStringLiteral("a\nb\r\ncx\r\n");
    QTest::newRow("cut and paste keep U+00A0")
        << QString(QStringLiteral("A =") + nbsp + QStringLiteral("1\r\nB = 2\r\n"))
        << Steps{{Step::Select, 0, 6}, {Step::Cut}, {Step::Place, 6}, {Step::Paste}}
        << QString(QStringLiteral("B = 2\r\nA =") + nbsp + QStringLiteral("1\r\n"));
    QTest::newRow("join after an empty line keeps the empty line's break")
        << QStringLiteral("x\r\n\rb\n") << Steps{{Step::Place, 3}, {Step::Backspace}} << QStringLiteral("x\r\nb\n");
    QTest::newRow("whole lines selected from a line start and deleted")
        << QStringLiteral("a\rb\nc\r\nd\ne") << Steps{{Step::Select, 2, 6}, {Step::Delete}}
        << QStringLiteral("a\rd\ne");
    QTest::newRow("a break replaced by Enter becomes CR LF")
        << QStringLiteral("a\rb\n") << Steps{{Step::Select, 1, 2}, {Step::Enter}} << QStringLiteral("a\r\nb\n");
    QTest::newRow("Enter in a text of LF lines") << QStringLiteral("ab\nc\n") << Steps{{Step::Place, 1}, {Step::Enter}}
                                                 << QStringLiteral("a\r\nb\nc\n");
    QTest::newRow("commit with a break into a text of LF lines")
        << QStringLiteral("a\nb\nc\n") << Steps{{Step::Place, 1}, {Step::ImCommit, 0, 0, 0, QStringLiteral("x\ny")}}
        << QStringLiteral("ax\r\ny\nb\nc\n");
    QTest::newRow("drag-copy of two lines")
        << QStringLiteral("a\rb\nc") << Steps{{Step::DragCopy, 0, 4, 5}} << QStringLiteral("a\rb\nca\r\nb\r\n");
}

void TestEditBoxEdits::fixedCases()
{
    QFETCH(QString, put);
    QFETCH(Steps, steps);
    QFETCH(QString, expected);
    Runner runner;
    QString text;
    const QString failure = runner.run(put, steps, nullptr, &text);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QCOMPARE(shown(text), shown(expected));
}

// What cut, copy and drags take from the box: the selection's characters
// exactly, each break as its line end.
void TestEditBoxEdits::copyCarriesExactCharacters_data()
{
    QTest::addColumn<QString>("put");
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<QString>("expected");

    const QString odd = QString(QStringLiteral("A =")) + QChar(0xA0) + QChar(0) + QChar(0x20AC) + QChar(0x81);
    QTest::newRow("U+00A0, NUL and Windows-1252 characters") << odd + QStringLiteral("\r\n") << 0 << 7 << odd;
    QTest::newRow("lone CR and lone LF") << QStringLiteral("a\rb\nc\r\nd") << 0 << 7
                                         << QStringLiteral("a\rb\nc\r\nd");
    QTest::newRow("a part of a line") << QStringLiteral("key = value\n") << 6 << 11 << QStringLiteral("value");
    QTest::newRow("from the middle of one line into the next") << QStringLiteral("ab\rcd\n") << 1 << 4
                                                               << QStringLiteral("b\rc");
    QTest::newRow("Shift+Enter's separator as CR LF")
        << QString(QStringLiteral("a") + QChar(0x2028) + QStringLiteral("b")) << 0 << 3 << QStringLiteral("a\r\nb");
}

void TestEditBoxEdits::copyCarriesExactCharacters()
{
    QFETCH(QString, put);
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(QString, expected);

    Box box;
    box.show();
    box.setText(put);
    QTextCursor cursor(box.document());
    cursor.setPosition(from);
    cursor.setPosition(to, QTextCursor::KeepAnchor);
    box.setTextCursor(cursor);
    const std::unique_ptr<QMimeData> dragged(box.createMimeDataFromSelection());
    QCOMPARE(shown(dragged->text()), shown(expected));
    QTest::keyClick(&box, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(shown(QApplication::clipboard()->text()), shown(expected));
    QTest::keyClick(&box, Qt::Key_X, Qt::ControlModifier);
    QCOMPARE(shown(QApplication::clipboard()->text()), shown(expected));
}

void TestEditBoxEdits::randomEdits_data()
{
    QTest::addColumn<quint32>("seed");
    const int seeds = envNumber("VELTRANE_EDIT_SEEDS", 16);
    for (int i = 1; i <= seeds; ++i)
        QTest::addRow("seed %d", i) << quint32(i);
}

void TestEditBoxEdits::randomEdits()
{
    QFETCH(quint32, seed);
    const int count = envNumber("VELTRANE_EDIT_STEPS", 1000);
    QRandomGenerator random(seed);
    const QString put = randomPut(random);
    const Steps steps = randomSteps(random, count);

    Runner runner;
    int failedAt = -1;
    const QString failure = runner.run(put, steps, &failedAt);
    if (failure.isEmpty())
        return;
    const Steps shortest = shrink(put, steps.mid(0, failedAt + 1));
    QString report = QStringLiteral("seed %1, put %2: %3\nshortest failing sequence (%4 steps):")
                         .arg(seed)
                         .arg(shown(put), runner.run(put, shortest))
                         .arg(shortest.size());
    for (const Step &s : shortest)
        report += QStringLiteral("\n  ") + s.describe();
    QFAIL(qPrintable(report));
}

QTEST_MAIN(TestEditBoxEdits)
#include "test_editbox_edits.moc"
