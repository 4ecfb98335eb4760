// The editing box with a 10 MB, 400,000-line text: the put, text() of an
// unmodified and of an edited box, and one keystroke pair in the middle.
// Three texts: CR LF lines, lone LF lines, and lines whose line ends
// alternate between the two (every other line's break carries a mark).
#include "runtime/EditBox.h"

#include <QApplication>
#include <QTextBlock>
#include <QTextCursor>

#include <benchmark/benchmark.h>

namespace {

constexpr int kLines = 400000;

// "KEY_n = value" lines, 25 characters each with the line end: 10 MB. With
// two line ends, they alternate.
QString makeText(const QString &lineEnd, const QString &otherLineEnd = {})
{
    QString text;
    text.reserve(qsizetype(kLines) * (23 + lineEnd.size()));
    for (int i = 0; i < kLines; ++i) {
        text += QStringLiteral("KEY_%1 = value").arg(i).leftJustified(23, u'x');
        text += (i % 2 && !otherLineEnd.isEmpty()) ? otherLineEnd : lineEnd;
    }
    return text;
}

const QString &crLfText()
{
    static const QString text = makeText(QStringLiteral("\r\n"));
    return text;
}

const QString &loneLfText()
{
    static const QString text = makeText(QStringLiteral("\n"));
    return text;
}

const QString &mixedText()
{
    static const QString text = makeText(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

const QString &textFor(const benchmark::State &state)
{
    return state.range(0) == 0 ? crLfText() : state.range(0) == 1 ? loneLfText() : mixedText();
}

void setLabel(benchmark::State &state)
{
    state.SetLabel(state.range(0) == 0 ? "CR LF lines" : state.range(0) == 1 ? "lone LF lines" : "alternating CR LF and LF");
}

runtime::EditBox &shownBox()
{
    static runtime::EditBox *box = [] {
        auto *b = new runtime::EditBox;
        b->resize(441, 377);
        b->show();
        QCoreApplication::processEvents();
        return b;
    }();
    return *box;
}

void edit(runtime::EditBox &box)
{
    QTextCursor cursor(box.document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(QStringLiteral("x"));
}

void BM_Put(benchmark::State &state)
{
    runtime::EditBox &box = shownBox();
    const QString &text = textFor(state);
    for (auto _ : state) {
        box.setText(text);
        QCoreApplication::processEvents();
    }
    setLabel(state);
    state.SetBytesProcessed(state.iterations() * text.size());
}

// The same text into a bare QPlainTextEdit through the widget's setPlainText.
void BM_PutPlainTextEdit(benchmark::State &state)
{
    QPlainTextEdit edit;
    edit.setLineWrapMode(QPlainTextEdit::NoWrap);
    edit.resize(441, 377);
    edit.show();
    QCoreApplication::processEvents();
    const QString &text = crLfText();
    for (auto _ : state) {
        edit.setPlainText(text);
        QCoreApplication::processEvents();
    }
    state.SetBytesProcessed(state.iterations() * text.size());
}

void BM_TextUnmodified(benchmark::State &state)
{
    runtime::EditBox &box = shownBox();
    box.setText(textFor(state));
    for (auto _ : state)
        benchmark::DoNotOptimize(box.text());
    setLabel(state);
}

void BM_TextModified(benchmark::State &state)
{
    runtime::EditBox &box = shownBox();
    box.setText(textFor(state));
    edit(box);
    qsizetype size = 0;
    for (auto _ : state) {
        const QString text = box.text();
        size = text.size();
        benchmark::DoNotOptimize(text.constData());
    }
    setLabel(state);
    state.SetBytesProcessed(state.iterations() * size * qsizetype(sizeof(QChar)));
}

// Enter then Backspace in the middle of the text.
void BM_SplitAndJoinLine(benchmark::State &state)
{
    runtime::EditBox &box = shownBox();
    box.setText(textFor(state));
    QTextCursor cursor(box.document()->findBlockByNumber(kLines / 2));
    cursor.movePosition(QTextCursor::EndOfBlock);
    for (auto _ : state) {
        cursor.insertBlock();
        cursor.deletePreviousChar();
    }
    setLabel(state);
}

} // namespace

BENCHMARK(BM_Put)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(BM_PutPlainTextEdit)->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(BM_TextUnmodified)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kNanosecond);
BENCHMARK(BM_TextModified)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SplitAndJoinLine)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    delete &shownBox();
    return 0;
}
