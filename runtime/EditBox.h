#pragma once
#include <QPlainTextEdit>

#include <cstdint>
#include <vector>

namespace runtime {

// The editing box. Only its Text is used:
//  - setText() replaces the whole text in one go;
//  - text() gives the whole plain text, every line break as CR LF (paragraph
//    breaks and the line separator of Shift+Enter included);
//  - a text put and not edited since comes back unchanged, U+00A0, NUL, lone
//    CR and lone LF included.
// No line wrapping: a very long line stays cheap to edit.
//
// Put the text through setText() only, and leave the document's modified
// flag alone: while the document is unmodified, text() gives the text last
// put.
//
// Lone CR and lone LF: the document breaks lines at them as at CR LF. The
// box remembers the break that followed each line in the text put and
// text() writes it back after edits elsewhere. A line end belongs to its
// break: splitting a line (Enter, a paste with line ends) leaves the old
// break after the last piece and puts CR LF after the others; joining two
// lines keeps the second line's break; breaks typed or pasted are CR LF,
// except where they replace a selection of the same length holding as many
// breaks (Qt reports that change just like a format change, which Enter also
// makes): such a replacement keeps the line ends.
// Undo and redo bring back the line ends of the breaks they restore.
class EditBox : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit EditBox(QWidget *parent = nullptr);

    QString text() const;
    void setText(const QString &text);

protected:
    // Pasted and dropped data enter as plain text only.
    bool canInsertFromMimeData(const QMimeData *source) const override;
    void insertFromMimeData(const QMimeData *source) override;

private:
    // What follows a line in the text returned.
    enum LineEnd : std::int8_t { CrLf, LoneCr, LoneLf };
    // An edit that removed or added line breaks: the line ends of the breaks
    // it removed, in order, and how many it added. Named by the document's
    // count of undo commands before and after it.
    struct Step {
        int undoBefore;
        int undoAfter;
        std::vector<LineEnd> removed;
        int added;
    };

    void trackLineEnds(int position, int removed, int added);
    void resetLineEnds(const QString &text);
    QString editedText() const;

    QString put_; // the text last put; valid while the document is unmodified

    // Kept only when the text put holds a lone CR or LF: one entry per block,
    // the line end after it.
    bool loneBreaks_ = false;
    std::vector<LineEnd> lineEnds_;
    std::vector<Step> steps_;
    int undoCount_ = 0;
    bool commandAdded_ = false; // a new undo command came before the change
};

} // namespace runtime
