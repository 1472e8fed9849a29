#include "tools/lumatrail/cancel_signals.h"

#include <pthread.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

#include "tools/lumatrail/tool_error.h"

namespace lumatrail::tools {
namespace {

// A second signal within this time of the first counts as the first.
constexpr std::chrono::milliseconds REPEAT_WINDOW{250};

}  // namespace

sigset_t cancel_signal_set() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

CancelSignals::CancelSignals() : set_(cancel_signal_set()) {
    pthread_sigmask(SIG_BLOCK, &set_, &previous_);
    watcher_ = std::thread([this] {
        std::chrono::steady_clock::time_point first;
        for (;;) {
            int number = 0;
            if (sigwait(&set_, &number) != 0) continue;
            // The destructor wakes the watcher with a signal of its own.
            if (stopping_.load()) return;
            int none = 0;
            signal_.compare_exchange_strong(none, number);
            const auto now = std::chrono::steady_clock::now();
            if (!cancelled_.exchange(true)) {
                first = now;
                continue;
            }
            // timeout(1) and kill(0, ...) send one signal to the process and
            // again to its group: a repeat that close behind is the same one.
            if (now - first > REPEAT_WINDOW) quit_now();
        }
    });
}

CancelSignals::~CancelSignals() {
    stopping_ = true;
    pthread_kill(watcher_.native_handle(), SIGTERM);
    watcher_.join();
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

void CancelSignals::on_quit(std::function<void()> action) {
    std::lock_guard lock(quit_mutex_);
    quit_action_ = std::move(action);
}

// The watcher is an ordinary thread, not a signal handler: it may take locks
// and remove files. The other threads are left where they are; _exit ends
// them without running destructors that would wait for them.
void CancelSignals::quit_now() {
    {
        std::lock_guard lock(quit_mutex_);
        if (quit_action_) quit_action_();
    }
    const char* message = "\nlumatrail: quit at once on a second signal; no partly written file was left\n";
    const ssize_t ignored = ::write(STDERR_FILENO, message, std::strlen(message));
    (void)ignored;
    _exit(exit_code());
}

int CancelSignals::exit_code() const {
    const int number = signal_.load();
    return number == SIGTERM ? EXIT_TERMINATED : EXIT_CANCELLED;
}

void CancelSignals::throw_if_cancelled() const {
    if (cancelled()) throw ToolError(exit_code(), "cancelled before any frame was written");
}

}  // namespace lumatrail::tools
