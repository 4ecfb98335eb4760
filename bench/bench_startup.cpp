// Start-up time: from starting the process to its first window being mapped
// on the X server named by DISPLAY (bench/startup.sh runs a private Xvfb),
// for the editor (its start-up window) and for bench/bare_window, a Qt
// program that maps one empty window. Each repetition starts the program
// once; the programs are found beside this executable unless
// VELTRANE_EDITOR / VELTRANE_BARE_WINDOW name them.
#include <benchmark/benchmark.h>

#include <X11/Xlib.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

std::string selfDir()
{
    char buf[4096];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return ".";
    std::string path(buf, size_t(n));
    return path.substr(0, path.rfind('/'));
}

std::string programPath(const char *env, const std::string &fallback)
{
    const char *v = std::getenv(env);
    return v && *v ? v : fallback;
}

Display *display()
{
    static Display *d = [] {
        Display *x = XOpenDisplay(nullptr);
        if (x)
            XSelectInput(x, DefaultRootWindow(x), SubstructureNotifyMask);
        return x;
    }();
    return d;
}

// The child's environment: ours, on X, with an empty drive of its own.
std::vector<std::string> childEnvironment()
{
    static std::string prefix = [] {
        char tmpl[] = "/tmp/veltrane-bench.XXXXXX";
        const char *dir = mkdtemp(tmpl);
        return std::string(dir ? dir : "/tmp");
    }();
    std::vector<std::string> env;
    for (char **e = environ; *e; ++e)
        if (std::strncmp(*e, "QT_QPA_PLATFORM=", 16) != 0 && std::strncmp(*e, "WINEPREFIX=", 11) != 0)
            env.emplace_back(*e);
    env.emplace_back("QT_QPA_PLATFORM=xcb");
    env.emplace_back("WINEPREFIX=" + prefix);
    return env;
}

// Waits for the next top-level window to be mapped; false after `limit`.
bool waitForMap(Display *x, Clock::time_point limit)
{
    for (;;) {
        while (XPending(x)) {
            XEvent e;
            XNextEvent(x, &e);
            if (e.type == MapNotify && !e.xmap.override_redirect)
                return true;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(limit - Clock::now());
        if (left.count() <= 0)
            return false;
        pollfd p{ConnectionNumber(x), POLLIN, 0};
        poll(&p, 1, int(left.count()));
    }
}

// Starts the program, returns the seconds until its window was mapped (or a
// negative value), and ends it again.
double startOnce(const std::string &path, std::string &error)
{
    Display *x = display();
    if (!x) {
        error = "cannot open DISPLAY";
        return -1;
    }
    XSync(x, True); // forget what earlier runs left in the queue

    std::vector<std::string> env = childEnvironment();
    std::vector<char *> envp;
    for (auto &s : env)
        envp.push_back(s.data());
    envp.push_back(nullptr);
    std::string arg0 = path;
    char *argv[] = {arg0.data(), nullptr};

    // The programs' chatter would drown the table.
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);

    pid_t pid = 0;
    const auto t0 = Clock::now();
    const int spawned = posix_spawn(&pid, path.c_str(), &quiet, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&quiet);
    if (spawned != 0) {
        error = "cannot start " + path + ": " + std::strerror(spawned);
        return -1;
    }
    const bool mapped = waitForMap(x, t0 + std::chrono::seconds(30));
    const auto t1 = Clock::now();
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!mapped) {
        error = path + " mapped no window within 30 s";
        return -1;
    }
    return std::chrono::duration<double>(t1 - t0).count();
}

void startupToMap(benchmark::State &state, const std::string &path)
{
    for (auto _ : state) {
        std::string error;
        const double seconds = startOnce(path, error);
        if (seconds < 0) {
            state.SkipWithError(error.c_str());
            break;
        }
        state.SetIterationTime(seconds);
    }
}

} // namespace

int main(int argc, char **argv)
{
    const std::string dir = selfDir();
    const std::string editor = programPath("VELTRANE_EDITOR", dir + "/../veltrane-editor");
    const std::string bare = programPath("VELTRANE_BARE_WINDOW", dir + "/bare_window");

    benchmark::Initialize(&argc, argv);
    // One unmeasured start each, so that neither pays alone for cold caches.
    for (const auto &p : {editor, bare}) {
        std::string ignored;
        startOnce(p, ignored);
    }
    for (const auto &[name, path] : {std::pair{"startup_to_map/veltrane-editor", editor},
                                     std::pair{"startup_to_map/bare_window", bare}}) {
        benchmark::RegisterBenchmark(name, [path = path](benchmark::State &s) { startupToMap(s, path); })
            ->UseManualTime()
            ->Iterations(1)
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
