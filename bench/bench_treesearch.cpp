// The data-file search over a tree of about 40,000 entries that holds no
// game.Gdb, against `find ROOT -name game.Gdb -print -quit` over the same tree.
#include "runtime/TreeSearch.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace fs = std::filesystem;

namespace {

struct Tree {
    fs::path prefix; // WINEPREFIX
    fs::path root;   // its drive_c
    int entries = 0;
};

Tree g_tree;

// A fixed pseudo-random sequence, so every run walks the same tree.
unsigned g_seed = 12345;
unsigned next()
{
    g_seed = g_seed * 1103515245u + 12345u;
    return (g_seed >> 8) & 0xFFFFFF;
}

std::string randomName()
{
    static const char *kExt[] = {"", ".dll", ".txt", ".ini", ".gdb", ".Gdb", ".dat", ".exe", ".log", ".bak"};
    static const char *kNear[] = {"game.Gd", "game.Gdbx", "Game.gdb.bak", "game2.Gdb", "agame.Gdb"};
    if (next() % 50 == 0)
        return kNear[next() % 5];
    std::string s;
    const int len = 4 + int(next() % 11);
    for (int i = 0; i < len; ++i) {
        const unsigned r = next() % 40;
        s += r < 20 ? char('a' + r) : r < 34 ? char('A' + r - 20) : r < 38 ? char('0' + r - 34) : r == 38 ? ' ' : '_';
    }
    return s + kExt[next() % 10];
}

// Fan-out per level: folders, files.
constexpr int kFolders[] = {12, 12, 10, 0};
constexpr int kFiles[] = {5, 8, 10, 25};

void fill(const fs::path &dir, int level)
{
    for (int i = 0; i < kFiles[level]; ++i) {
        const fs::path p = dir / randomName();
        if (fs::exists(p))
            continue;
        std::ofstream(p) << "x";
        ++g_tree.entries;
    }
    for (int i = 0; i < kFolders[level]; ++i) {
        fs::path p = dir / (randomName() + std::to_string(i));
        if (fs::exists(p))
            continue;
        fs::create_directory(p);
        ++g_tree.entries;
        fill(p, level + 1);
    }
}

void makeTree()
{
    char tmpl[] = "/tmp/bench_treesearch.XXXXXX";
    if (!mkdtemp(tmpl)) {
        std::perror("mkdtemp");
        std::exit(1);
    }
    g_tree.prefix = tmpl;
    g_tree.root = g_tree.prefix / "drive_c";
    fs::create_directory(g_tree.root);
    fill(g_tree.root, 0);
    setenv("WINEPREFIX", tmpl, 1);
}

int runFind()
{
    const std::string root = g_tree.root.string();
    const char *argv[] = {"find", root.c_str(), "-name", "game.Gdb", "-print", "-quit", nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, "find", &actions, nullptr, const_cast<char **>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

int runSearch()
{
    char buffer[runtime::kMaxPath];
    return runtime::SearchTreeForFile("C:\\", "game.Gdb", buffer);
}

void BM_SearchTreeForFile(benchmark::State &state)
{
    for (auto _ : state)
        if (runSearch() != 0)
            state.SkipWithError("the tree holds no game.Gdb, yet the search found one");
    state.counters["entries"] = g_tree.entries;
}
BENCHMARK(BM_SearchTreeForFile)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

void BM_Find(benchmark::State &state)
{
    for (auto _ : state)
        if (runFind() != 0)
            state.SkipWithError("find failed");
    state.counters["entries"] = g_tree.entries;
}
BENCHMARK(BM_Find)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

// Keeps each benchmark's wall time per iteration to print the ratio at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> perIteration;
    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &run : runs)
            if (run.run_type == Run::RT_Iteration && run.iterations > 0)
                perIteration[run.run_name.function_name] = run.real_accumulated_time / double(run.iterations);
        ConsoleReporter::ReportRuns(runs);
    }
};

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    makeTree();
    // Warm the page and dentry caches for both contenders.
    for (int i = 0; i < 3; ++i) {
        runFind();
        runSearch();
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double ours = reporter.perIteration["BM_SearchTreeForFile"];
    const double find = reporter.perIteration["BM_Find"];
    std::printf("tree: %d entries under %s\n", g_tree.entries, g_tree.root.c_str());
    if (ours > 0 && find > 0)
        std::printf("SearchTreeForFile %.3f ms, find %.3f ms, ratio ours/find = %.3f\n", ours * 1e3, find * 1e3, ours / find);
    std::error_code ec;
    fs::remove_all(g_tree.prefix, ec);
    benchmark::Shutdown();
    return 0;
}
