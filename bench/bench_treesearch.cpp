// The data-file search over trees of about 40,000 entries that hold no
// game.Gdb, against `find ROOT -name game.Gdb -print -quit` over the same
// tree: the search as the program runs it, and each folder reader on its own.
// The "accented" tree has the same shape, with a third of its names in
// letters outside ASCII (a few outside the code page).
#include "runtime/TreeSearch.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace fs = std::filesystem;

namespace {

struct Tree {
    std::string name;
    bool accented = false;
    fs::path prefix; // WINEPREFIX
    fs::path root;   // its drive_c
    int entries = 0;
};

std::vector<Tree> g_trees = {{"plain", false, {}, {}, 0}, {"accented", true, {}, {}, 0}};

// A fixed pseudo-random sequence, so every run walks the same trees.
unsigned g_seed;
unsigned next()
{
    g_seed = g_seed * 1103515245u + 12345u;
    return (g_seed >> 8) & 0xFFFFFF;
}

std::string randomName(bool accented)
{
    static const char *kExt[] = {"", ".dll", ".txt", ".ini", ".gdb", ".Gdb", ".dat", ".exe", ".log", ".bak"};
    static const char *kNear[] = {"game.Gd", "game.Gdbx", "Game.gdb.bak", "game2.Gdb", "agame.Gdb"};
    static const char *kLetters[] = {"\xC3\xA9", "\xC3\x89", "\xC3\xBC", "\xC3\x9F", "\xE2\x82\xAC", "\xC3\xB1", "\xC3\xA0", "\xE6\x97\xA5"};
    if (next() % 50 == 0)
        return kNear[next() % 5];
    const bool foreign = accented && next() % 3 == 0;
    std::string s;
    const int len = 4 + int(next() % 11);
    for (int i = 0; i < len; ++i) {
        const unsigned r = next() % 40;
        if (foreign && r % 4 == 0)
            s += kLetters[next() % (next() % 20 == 0 ? 8 : 7)];
        else
            s += r < 20 ? char('a' + r) : r < 34 ? char('A' + r - 20) : r < 38 ? char('0' + r - 34) : r == 38 ? ' ' : '_';
    }
    return s + kExt[next() % 10];
}

// Fan-out per level: folders, files.
constexpr int kFolders[] = {12, 12, 10, 0};
constexpr int kFiles[] = {5, 8, 10, 25};

void fill(Tree &tree, const fs::path &dir, int level)
{
    for (int i = 0; i < kFiles[level]; ++i) {
        const fs::path p = dir / randomName(tree.accented);
        if (fs::exists(p))
            continue;
        std::ofstream(p) << "x";
        ++tree.entries;
    }
    for (int i = 0; i < kFolders[level]; ++i) {
        fs::path p = dir / (randomName(tree.accented) + std::to_string(i));
        if (fs::exists(p))
            continue;
        fs::create_directory(p);
        ++tree.entries;
        fill(tree, p, level + 1);
    }
}

void makeTree(Tree &tree)
{
    char tmpl[] = "/tmp/bench_treesearch.XXXXXX";
    if (!mkdtemp(tmpl)) {
        std::perror("mkdtemp");
        std::exit(1);
    }
    tree.prefix = tmpl;
    tree.root = tree.prefix / "drive_c";
    fs::create_directory(tree.root);
    g_seed = 12345;
    fill(tree, tree.root, 0);
}

int runFind(const Tree &tree)
{
    const std::string root = tree.root.string();
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

// Drive C is the tree's: SearchTreeForFile reads WINEPREFIX at every call.
void useTree(const Tree &tree)
{
    setenv("WINEPREFIX", tree.prefix.c_str(), 1);
}

int runSearch()
{
    char buffer[runtime::kMaxPath];
    return runtime::SearchTreeForFile("C:\\", "game.Gdb", buffer);
}

int runReader(runtime::treesearch::Reader reader)
{
    char buffer[runtime::kMaxPath];
    return runtime::treesearch::searchWith(reader, "C:\\", "game.Gdb", buffer);
}

template <class Run>
void timeSearch(benchmark::State &state, const Tree &tree, Run run)
{
    useTree(tree);
    for (auto _ : state)
        if (run() != 0)
            state.SkipWithError("the tree holds no game.Gdb, yet the search found one");
    state.counters["entries"] = tree.entries;
}

void timed(benchmark::internal::Benchmark *b)
{
    b->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(0.5);
}

void registerAll()
{
    for (const Tree &tree : g_trees) {
        const Tree *t = &tree;
        timed(benchmark::RegisterBenchmark(("SearchTreeForFile/" + tree.name).c_str(),
                                           [t](benchmark::State &state) { timeSearch(state, *t, runSearch); }));
        for (const runtime::treesearch::Reader reader : runtime::treesearch::readers())
            timed(benchmark::RegisterBenchmark(
                ("reader " + std::string(runtime::treesearch::name(reader)) + "/" + tree.name).c_str(),
                [t, reader](benchmark::State &state) { timeSearch(state, *t, [reader] { return runReader(reader); }); }));
        timed(benchmark::RegisterBenchmark(("find/" + tree.name).c_str(), [t](benchmark::State &state) {
            for (auto _ : state)
                if (runFind(*t) != 0)
                    state.SkipWithError("find failed");
            state.counters["entries"] = t->entries;
        }));
    }
}

// Keeps each benchmark's median wall time per iteration in ms (the single
// run's, without repetitions) to print the ratios at the end.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> perIteration;
    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &run : runs) {
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if ((median || run.run_type == Run::RT_Iteration) && run.iterations > 0)
                perIteration[run.run_name.function_name] = run.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

} // namespace

int main(int argc, char **argv)
{
    // Repetitions in shuffled order, so that no contender gains by its place
    // in the run; flags given on the command line come after, and win.
    std::vector<char *> args{argv[0], const_cast<char *>("--benchmark_repetitions=7"),
                             const_cast<char *>("--benchmark_enable_random_interleaving=true"),
                             const_cast<char *>("--benchmark_report_aggregates_only=true")};
    args.insert(args.end(), argv + 1, argv + argc);
    int count = int(args.size());
    args.push_back(nullptr);
    benchmark::Initialize(&count, args.data());
    for (Tree &tree : g_trees) {
        makeTree(tree);
        // Warm the page and dentry caches for every contender.
        useTree(tree);
        for (int i = 0; i < 3; ++i) {
            runFind(tree);
            runSearch();
        }
    }
    registerAll();
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const Tree &tree : g_trees) {
        std::printf("tree %s: %d entries under %s\n", tree.name.c_str(), tree.entries, tree.root.c_str());
        const double find = reporter.perIteration["find/" + tree.name];
        for (const auto &[name, time] : reporter.perIteration) {
            const auto slash = name.rfind('/');
            if (find > 0 && name.compare(slash + 1, std::string::npos, tree.name) == 0 && name != "find/" + tree.name)
                std::printf("  %-32s %8.3f ms = %.3f x find (%.3f ms)\n", name.c_str(), time, time / find, find);
        }
    }
    for (const Tree &tree : g_trees) {
        std::error_code ec;
        fs::remove_all(tree.prefix, ec);
    }
    benchmark::Shutdown();
    return 0;
}
