// Saving a 10 MB text through the save path, beside a plain write(2) and
// fsync of the same bytes in the same folder. Prints the ratios of the
// medians at the end.
#include "editor/Form1.h"
#include "runtime/CodePage.h"
#include "runtime/Files.h"
#include "runtime/Forms.h"
#include "runtime/Runtime.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

QTemporaryDir *g_dir = nullptr;
const QString kDataWin = QStringLiteral("C:\\Games\\Apex Circuit Racing\\game.Gdb");
constexpr qsizetype kTextSize = 10 * 1000 * 1000;

// "PARAM_n = v" lines with CR LF, the last one without: the save adds it.
const QString &text()
{
    static const QString t = [] {
        QString out;
        out.reserve(kTextSize + 64);
        for (int i = 0; out.size() < kTextSize; ++i)
            out += QStringLiteral("PARAM_%1 = %2   \r\n").arg(i).arg((i * 7919) % 100000);
        out.truncate(kTextSize);
        while (out.endsWith(QLatin1Char('\r')) || out.endsWith(QLatin1Char('\n')))
            out.chop(1);
        return out;
    }();
    return t;
}

QString driveC(const QString &rel) { return g_dir->path() + QStringLiteral("/drive_c/") + rel; }

void BM_SaveThroughFiles(benchmark::State &state)
{
    const QString &t = text();
    for (auto _ : state) {
        runtime::files::OpenOutput(4, kDataWin);
        runtime::files::Print(4, t, true);
        runtime::files::Close(4);
    }
    state.SetBytesProcessed(state.iterations() * (t.size() + 2));
}

void BM_SaveClick(benchmark::State &state)
{
    runtime::resetForTest();
    runtime::setReportHook([](const runtime::RuntimeError &e) { qFatal("%s", e.what()); });
    Form1 &f = runtime::global<Form1>();
    runtime::dispatch([&] { f.Show(); });
    f.ui.TxtTesto->setText(text());
    for (auto _ : state)
        f.CmdSalva_Click();
    state.SetBytesProcessed(state.iterations() * (text().size() + 2));
    runtime::resetForTest();
}

// The same bytes, converted once outside the loop: write(2), fsync, close.
void BM_PlainWriteFsync(benchmark::State &state)
{
    QByteArray bytes = runtime::toAnsi(text());
    bytes.append("\r\n");
    const QByteArray path = QFile::encodeName(driveC(QStringLiteral("Games/Apex Circuit Racing/plain.Gdb")));
    for (auto _ : state) {
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
            if (n <= 0)
                qFatal("write failed");
            done += n;
        }
        if (::fsync(fd) != 0 || ::close(fd) != 0)
            qFatal("fsync/close failed");
    }
    state.SetBytesProcessed(state.iterations() * bytes.size());
}

// Keeps the mean real time of every run, to print the ratios at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> ms;
    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &r : runs)
            if (r.run_type == Run::RT_Iteration || r.aggregate_name == "median")
                ms[r.run_name.function_name] = r.GetAdjustedRealTime();
    }
};

} // namespace

// The disk's flush time varies from one second to the next: many short
// repetitions, interleaved (see main), compared by their medians.
#define SAVE_BENCHMARK(fn) \
    BENCHMARK(fn)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(0.3)->Repetitions(12)->ReportAggregatesOnly(true)
SAVE_BENCHMARK(BM_PlainWriteFsync);
SAVE_BENCHMARK(BM_SaveThroughFiles);
SAVE_BENCHMARK(BM_SaveClick);

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    g_dir = &dir;
    qputenv("WINEPREFIX", QFile::encodeName(dir.path()));
    QDir(dir.path()).mkpath(QStringLiteral("drive_c/Games/Apex Circuit Racing"));
    QDir(dir.path()).mkpath(QStringLiteral("drive_c/windows/temp"));
    // The window's load finds and reads this file.
    QFile data(driveC(QStringLiteral("Games/Apex Circuit Racing/game.Gdb")));
    data.open(QIODevice::WriteOnly);
    data.write("RACELAPS = 58\r\n");
    data.close();
    text();

    std::vector<char *> args(argv, argv + argc);
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    args.insert(args.begin() + 1, interleave);
    int count = int(args.size());
    benchmark::Initialize(&count, args.data());
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    const auto plain = reporter.ms.find("BM_PlainWriteFsync");
    for (const char *name : {"BM_SaveThroughFiles", "BM_SaveClick"}) {
        const auto it = reporter.ms.find(name);
        if (plain != reporter.ms.end() && it != reporter.ms.end() && plain->second > 0)
            std::printf("%s / BM_PlainWriteFsync = %.2f\n", name, it->second / plain->second);
    }
    runtime::resetForTest();
    return 0;
}
