#pragma once
#include <QPlainTextEdit>

namespace runtime {

// The editing box. Only its Text is used:
//  - setText() replaces the whole text in one go;
//  - text() gives the whole plain text, every line break as its line end
//    (see below; the line separator of Shift+Enter as CR LF);
//  - a text put and not edited since comes back unchanged, U+00A0, NUL, lone
//    CR and lone LF included;
//  - every character and line end the user did not edit comes back
//    unchanged, whatever the way of editing: keys, input methods, paste,
//    drag and drop, cut, undo and redo.
// No line wrapping: a very long line stays cheap to edit.
//
// Put the text through setText() only, and leave the document's modified
// flag alone: while the document is unmodified, text() gives the text last
// put.
//
// Line ends. The document breaks lines at CR LF, lone CR and lone LF alike;
// each break carries its own line end, in its character format, and the
// document's own editing keeps it with that break:
//  - a break that an edit removes takes its line end with it, and no other
//    break changes: joining two lines keeps the line end that followed the
//    second one;
//  - breaks typed, pasted, dropped or committed by an input method are
//    CR LF, also where they replace a selection that held breaks;
//  - undo and redo bring back the line ends of the breaks they restore.
// The clipboard and drag data carry the selection's exact characters:
// U+00A0 stays, each line break is its line end. They carry them twice: as
// plain text for other programs, and in a format of the box's own that a
// paste or drop into a box takes first, since plain text between two
// programs may lose a trailing NUL.
class EditBox : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit EditBox(QWidget *parent = nullptr);

    QString text() const;
    void setText(const QString &text);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;
    QMimeData *createMimeDataFromSelection() const override;
    // Pasted and dropped data enter as plain text only: the box's own
    // format, else text/plain, else text/plain in a charset Qt decodes.
    bool canInsertFromMimeData(const QMimeData *source) const override;
    void insertFromMimeData(const QMimeData *source) override;

private:
    enum LineEnd : int { CrLf, LoneCr, LoneLf };

    // Replaces the cursor's selection with text, in one undo step: every
    // line break in it becomes a new CR LF break.
    void insertTyped(QTextCursor &cursor, QStringView text);
    // The characters between two document positions, breaks as line ends.
    QString textBetween(int from, int to) const;

    QString put_; // the text last put; valid while the document is unmodified
    // The line end of a break without a mark: the most common one of the
    // text put, so a text of lone LF lines marks none of its breaks.
    LineEnd unmarked_ = CrLf;
    // May any break carry a mark? When not, text() need not look at them.
    bool marked_ = false;
};

} // namespace runtime
