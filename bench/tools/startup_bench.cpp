// How soon the lumatrail program answers and how soon it can be stopped:
// whole processes, started and waited for as a shell would.
//   Version:      `lumatrail --version`, start to exit (the goal: under 0.1 s).
//   Colorspaces:  a command that loads the picture and movie part, for scale.
//   SignalAfter:  `lumatrail render` sent SIGINT N ms after it starts; the
//                 counter `caught` is the share of runs that ended with the
//                 program's own cancel (exit 130), not killed by the signal
//                 (the goal: all of them from 50 ms).
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

// Starts the program with `args`, its output thrown away; its pid, or -1.
pid_t start(std::vector<std::string> args) {
    args.insert(args.begin(), LUMATRAIL_TOOL);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&files);
    return pid;
}

// The exit status; -1 when a signal killed it (or it never ran).
int finish(pid_t pid) {
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void run_command(benchmark::State& state, const std::vector<std::string>& args) {
    for (auto _ : state)
        if (finish(start(args)) != 0) state.SkipWithError("the command failed");
}

void Version(benchmark::State& state) { run_command(state, {"--version"}); }
void Colorspaces(benchmark::State& state) { run_command(state, {"colorspaces"}); }

void SignalAfter(benchmark::State& state) {
    const std::string out = "/tmp/lumatrail_startup_bench_" + std::to_string(getpid()) + ".png";
    int caught = 0, runs = 0;
    for (auto _ : state) {
        const pid_t pid = start({"render", "--size", "64x36", "-o", out});
        std::this_thread::sleep_for(std::chrono::milliseconds(state.range(0)));
        kill(pid, SIGINT);
        const int status = finish(pid);
        caught += status == 130 || status == 0;  // 0: it had finished before the signal
        ++runs;
    }
    unlink(out.c_str());
    state.counters["caught"] = runs ? double(caught) / runs : 0.0;
}

BENCHMARK(Version)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Colorspaces)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(SignalAfter)
    ->Arg(0)
    ->Arg(2)
    ->Arg(5)
    ->Arg(10)
    ->Arg(20)
    ->Arg(50)
    ->Iterations(20)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
