// The signal watcher in a child process of its own: what one signal, a
// repeated one and a second one do.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tools/lumatrail/cancel_signals.h"

namespace lumatrail::tools {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct Outcome {
    int status = -1;        // the child's exit status
    bool quit_ran = false;  // its quit action left its mark
};

// A child that cancels on `first`, then is sent `second` after `gap`; it
// exits 0 when the cancel flag is up and nothing quit it within two seconds.
Outcome signalled(int first, int second, std::chrono::milliseconds gap) {
    const fs::path mark = fs::path(::testing::TempDir()) / ("quit_mark_" + std::to_string(::getpid()));
    fs::remove(mark);
    int ready[2];
    if (pipe(ready) != 0) return {};
    const pid_t child = fork();
    if (child == 0) {
        CancelSignals signals;
        signals.on_quit([&] { std::ofstream(mark) << "quit"; });
        const char go = 1;
        if (write(ready[1], &go, 1) != 1) _exit(3);
        const auto until = std::chrono::steady_clock::now() + 2s;
        while (std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(10ms);
        _exit(signals.cancelled() && signals.exit_code() == (first == SIGTERM ? 143 : 130) ? 0 : 4);
    }
    char go = 0;
    const bool started = read(ready[0], &go, 1) == 1;
    close(ready[0]);
    close(ready[1]);
    if (started) {
        kill(child, first);
        if (second) {
            std::this_thread::sleep_for(gap);
            kill(child, second);
        }
    }
    int status = 0;
    waitpid(child, &status, 0);
    Outcome o{WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), fs::exists(mark)};
    fs::remove(mark);
    return o;
}

TEST(CancelSignals, OneSignalCancelsASecondQuitsAtOnce) {
    // One signal only raises the flag; the work winds down by itself.
    const Outcome one = signalled(SIGTERM, 0, 0ms);
    EXPECT_EQ(one.status, 0);
    EXPECT_FALSE(one.quit_ran);
    // The same signal sent twice at once (timeout(1) sends it to the process
    // and to its group) is one cancel.
    const Outcome echoed = signalled(SIGINT, SIGINT, 0ms);
    EXPECT_EQ(echoed.status, 0);
    EXPECT_FALSE(echoed.quit_ran);
    // A second Ctrl-C later quits at once with the first signal's code,
    // after the quit action has removed what was being written.
    const Outcome twice = signalled(SIGINT, SIGINT, 600ms);
    EXPECT_EQ(twice.status, 130);
    EXPECT_TRUE(twice.quit_ran);
    const Outcome mixed = signalled(SIGTERM, SIGINT, 600ms);
    EXPECT_EQ(mixed.status, 143);
    EXPECT_TRUE(mixed.quit_ran);
}

}  // namespace
}  // namespace lumatrail::tools
