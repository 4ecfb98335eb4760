// The read of the data file into the editing box, beside the box's own put
// of the same text, and the read of a file ten times smaller.
#include "editor/Form1.h"
#include "runtime/Files.h"
#include "runtime/Forms.h"
#include "runtime/Runtime.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

QTemporaryDir *g_dir = nullptr;

// "KEY_n = value" lines with CR LF, about 25 bytes each.
QByteArray makeFile(int lines)
{
    QByteArray out;
    out.reserve(qsizetype(lines) * 26);
    for (int i = 0; i < lines; ++i) {
        out += "PARAM_";
        out += QByteArray::number(i);
        out += " = ";
        out += QByteArray::number((i * 7919) % 100000);
        out += "   \r\n";
    }
    return out;
}

QString writeData(int lines)
{
    const QString rel = QStringLiteral("Games/Data%1").arg(lines);
    QDir(g_dir->path()).mkpath(QStringLiteral("drive_c/") + rel);
    QFile f(g_dir->path() + QStringLiteral("/drive_c/") + rel + QStringLiteral("/game.Gdb"));
    f.open(QIODevice::WriteOnly);
    f.write(makeFile(lines));
    return QStringLiteral("C:\\Games\\Data%1\\game.Gdb").arg(lines);
}

Form1 &loadedForm(const QString &path)
{
    runtime::resetForTest();
    runtime::setReportHook([](const runtime::RuntimeError &e) { qFatal("%s", e.what()); });
    Form1 &f = runtime::global<Form1>();
    // Build the window without the search: the path holder names the file.
    runtime::dispatch([&] { f.Show(); });
    f.ui.lblResult->setText(path);
    return f;
}

void BM_ReadDataFile(benchmark::State &state)
{
    const int lines = int(state.range(0));
    Form1 &f = loadedForm(writeData(lines));
    for (auto _ : state)
        f.ReadDataFile();
    state.SetBytesProcessed(state.iterations() * qint64(f.ui.TxtTesto->text().size()));
}

void BM_BoxPutAlone(benchmark::State &state)
{
    const int lines = int(state.range(0));
    Form1 &f = loadedForm(writeData(lines));
    f.ReadDataFile();
    const QString text = f.ui.TxtTesto->text();
    for (auto _ : state)
        f.ui.TxtTesto->setText(text);
}

// The read's own work, without the box: the lines gathered into one text.
void BM_LinesGathered(benchmark::State &state)
{
    const QString path = writeData(int(state.range(0)));
    const QString crLf = QStringLiteral("\r\n");
    for (auto _ : state) {
        QString all;
        runtime::files::OpenInput(1, path);
        while (!runtime::files::Eof(1)) {
            all += runtime::files::LineInput(1);
            all += crLf;
        }
        runtime::files::Close(1);
        benchmark::DoNotOptimize(all.size());
    }
}

} // namespace

BENCHMARK(BM_LinesGathered)->Arg(40000)->Arg(400000)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ReadDataFile)->Arg(40000)->Arg(400000)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_BoxPutAlone)->Arg(40000)->Arg(400000)->Unit(benchmark::kMillisecond)->MinTime(2.0);

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    g_dir = &dir;
    qputenv("WINEPREFIX", QFile::encodeName(dir.path()));
    // The load searches drive C:, which holds only the data folders here.
    QDir(dir.path()).mkpath(QStringLiteral("drive_c/Games/Data40000"));
    writeData(40000);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    runtime::resetForTest();
    return 0;
}
