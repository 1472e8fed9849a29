#include "tools/lumatrail/cancel_signals.h"

#include <pthread.h>

#include "tools/lumatrail/tool_error.h"

namespace lumatrail::tools {

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
        for (;;) {
            int number = 0;
            if (sigwait(&set_, &number) != 0) continue;
            // The destructor wakes the watcher with a signal of its own.
            if (stopping_.load()) return;
            int none = 0;
            signal_.compare_exchange_strong(none, number);
            cancelled_ = true;
        }
    });
}

CancelSignals::~CancelSignals() {
    stopping_ = true;
    pthread_kill(watcher_.native_handle(), SIGTERM);
    watcher_.join();
    pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

int CancelSignals::exit_code() const {
    const int number = signal_.load();
    return number == SIGTERM ? EXIT_TERMINATED : EXIT_CANCELLED;
}

void CancelSignals::throw_if_cancelled() const {
    if (cancelled()) throw ToolError(exit_code(), "cancelled before any frame was written");
}

}  // namespace lumatrail::tools
