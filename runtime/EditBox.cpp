#include "runtime/EditBox.h"

#include <QMimeData>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <utility>

namespace runtime {

namespace {

constexpr char16_t kParagraphSeparator = 0x2029; // between blocks in the raw text
constexpr char16_t kLineSeparator = 0x2028;      // Shift+Enter, inside a block
// Frame marks: QTextCursor::insertText breaks blocks at them too.
constexpr char16_t kFrameStart = 0xFDD0;
constexpr char16_t kFrameEnd = 0xFDD1;

const char16_t *chars(const QString &s)
{
    return reinterpret_cast<const char16_t *>(s.constData());
}

bool isBlockBreak(char16_t c)
{
    return c == kParagraphSeparator || c == kFrameStart || c == kFrameEnd;
}

bool hasLoneBreak(const QString &text)
{
    const char16_t *p = chars(text);
    const char16_t *const end = p + text.size();
    for (; p != end; ++p) {
        if (*p == u'\n')
            return true;
        if (*p == u'\r') {
            if (p + 1 == end || p[1] != u'\n')
                return true;
            ++p;
        }
    }
    return false;
}

} // namespace

EditBox::EditBox(QWidget *parent) : QPlainTextEdit(parent)
{
    // Wrapping a long line without blanks costs seconds per keystroke.
    setLineWrapMode(NoWrap);
    QTextDocument *doc = document();
    // Qt signals a new undo command before the change it belongs to; a
    // change without one is an undo, a redo, or merged into the last command.
    connect(doc, &QTextDocument::undoCommandAdded, this, [this] { commandAdded_ = true; });
    connect(doc, &QTextDocument::contentsChange, this, &EditBox::trackLineEnds);
}

void EditBox::setText(const QString &text)
{
    put_ = text;
    loneBreaks_ = false; // nothing to track while the document is refilled
    // The document's own setPlainText: the widget's one also reformats the
    // whole text afterwards (about a tenth more time on a 10 MB text) to
    // apply a character format this box never sets. It clears the undo
    // history; the caret, which the insertion carried to the end, goes back
    // to the start, with the view.
    document()->setPlainText(text);
    document()->setModified(false);
    resetLineEnds(text);
    setTextCursor(QTextCursor(document()));
    horizontalScrollBar()->setValue(0);
    verticalScrollBar()->setValue(0);
}

QString EditBox::text() const
{
    return document()->isModified() ? editedText() : put_;
}

// Breaks the text where QTextCursor::insertText breaks blocks: CR LF, lone
// CR, lone LF and the block separators.
void EditBox::resetLineEnds(const QString &text)
{
    lineEnds_.clear();
    steps_.clear();
    commandAdded_ = false;
    undoCount_ = document()->availableUndoSteps();
    if (!hasLoneBreak(text)) {
        lineEnds_.shrink_to_fit();
        return;
    }
    lineEnds_.reserve(static_cast<std::size_t>(document()->blockCount()));
    const char16_t *p = chars(text);
    const char16_t *const end = p + text.size();
    for (; p != end; ++p) {
        if (*p == u'\r') {
            if (p + 1 != end && p[1] == u'\n') {
                ++p;
                lineEnds_.push_back(CrLf);
            } else {
                lineEnds_.push_back(LoneCr);
            }
        } else if (*p == u'\n') {
            lineEnds_.push_back(LoneLf);
        } else if (isBlockBreak(*p)) {
            lineEnds_.push_back(CrLf);
        }
    }
    lineEnds_.push_back(CrLf); // the last line: nothing follows it
    lineEnds_.resize(static_cast<std::size_t>(document()->blockCount()), CrLf);
    loneBreaks_ = true;
}

// Keeps lineEnds_ in step with the blocks. A change replaced the text from
// `position`: the breaks that ended blocks first .. first+r-1 are gone, k new
// ones end blocks first .. first+k-1, and the break that ended block first+r
// now ends block first+k. New breaks are CR LF; an undo gives back the line
// ends its step took away; a change that keeps length and breaks (a format
// change: Qt makes one on Enter) keeps the line ends.
void EditBox::trackLineEnds(int position, int removed, int added)
{
    const bool commandAdded = std::exchange(commandAdded_, false);
    if (!loneBreaks_)
        return;
    QTextDocument *doc = document();
    const int undoBefore = std::exchange(undoCount_, doc->availableUndoSteps());

    const int blocks = doc->blockCount();
    const int first = doc->findBlock(position).blockNumber();
    const int end = std::min(position + added, doc->characterCount() - 1);
    const int addedBreaks = doc->findBlock(end).blockNumber() - first;
    const int oldBlocks = static_cast<int>(lineEnds_.size());
    const int removedBreaks = oldBlocks - blocks + addedBreaks;
    if (first < 0 || addedBreaks < 0 || removedBreaks < 0 || first + removedBreaks >= oldBlocks) {
        // Out of step with the document: from here on every break is CR LF.
        lineEnds_.assign(static_cast<std::size_t>(blocks), CrLf);
        steps_.clear();
        return;
    }
    if (removedBreaks == 0 && addedBreaks == 0 && !commandAdded && undoCount_ == undoBefore)
        return; // typing within a line

    const auto from = lineEnds_.begin() + first;
    std::vector<LineEnd> gone(from, from + removedBreaks);
    std::vector<LineEnd> ends;
    const bool undo = !commandAdded && undoCount_ < undoBefore;
    const bool redo = !commandAdded && undoCount_ > undoBefore;
    const Step *undone = nullptr;
    if (undo) {
        for (auto step = steps_.rbegin(); step != steps_.rend() && !undone; ++step) {
            if (step->undoBefore == undoCount_ && step->undoAfter == undoBefore && step->added == removedBreaks
                && step->removed.size() == static_cast<std::size_t>(addedBreaks))
                undone = &*step;
        }
    }
    // A redo makes the same change as the edit it redoes, and so the same
    // line ends.
    if (undone)
        ends = undone->removed;
    else if (removed == added && removedBreaks == addedBreaks)
        ends = gone;
    else
        ends.assign(static_cast<std::size_t>(addedBreaks), CrLf);

    if (!undo && !redo) {
        // An edit: the redo branch is gone. With a new command this change
        // is a step of its own; merged into the last command, that step can
        // no longer be undone exactly when the change moved breaks.
        const int kept = commandAdded ? undoBefore : undoCount_;
        std::erase_if(steps_, [&](const Step &step) {
            return step.undoAfter > kept
                || (!commandAdded && step.undoAfter == kept && (removedBreaks || addedBreaks));
        });
        if (commandAdded && (removedBreaks || addedBreaks))
            steps_.push_back(Step{undoBefore, undoCount_, std::move(gone), addedBreaks});
    }

    if (removedBreaks == addedBreaks) {
        std::copy(ends.begin(), ends.end(), from);
    } else {
        lineEnds_.erase(from, from + removedBreaks);
        lineEnds_.insert(lineEnds_.begin() + first, ends.begin(), ends.end());
    }
}

// The raw text keeps U+00A0 (toPlainText() turns it into a blank) and holds
// one separator between blocks.
QString EditBox::editedText() const
{
    const QTextDocument *doc = document();
    const QString raw = doc->toRawText();
    const char16_t *const begin = chars(raw);
    const char16_t *const end = begin + raw.size();

    qsizetype breaks = 0;
    for (const char16_t *p = begin; p != end; ++p)
        breaks += (isBlockBreak(*p) || *p == kLineSeparator);

    QString out(raw.size() + breaks, Qt::Uninitialized);
    char16_t *o = reinterpret_cast<char16_t *>(out.data());
    std::size_t block = 0;
    for (const char16_t *p = begin; p != end; ++p) {
        const char16_t c = *p;
        if (isBlockBreak(c)) {
            const LineEnd lineEnd = block < lineEnds_.size() ? lineEnds_[block] : CrLf;
            ++block;
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

bool EditBox::canInsertFromMimeData(const QMimeData *source) const
{
    return source && source->hasText();
}

void EditBox::insertFromMimeData(const QMimeData *source)
{
    if (!source || !source->hasText())
        return;
    insertPlainText(source->text());
    ensureCursorVisible();
}

} // namespace runtime
