// Ctrl-C (SIGINT) and SIGTERM cancel the program wherever it is. Made first
// thing in main, before any other thread exists, the watcher blocks both
// signals in the calling thread, so every thread started later (frame
// workers, the image library's own pools) inherits the block and the signals
// can only reach the one thread that waits for them. That thread sets the
// cancel flag, which every stage of the program checks and the effect polls
// through the host's abort callback. A second signal does not wait for the
// stages to notice: the watcher runs the quit action (which removes the
// temporary files being written) and ends the process at once.
#pragma once

#include <signal.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

namespace lumatrail::tools {

// SIGINT and SIGTERM.
sigset_t cancel_signal_set();

class CancelSignals {
public:
    CancelSignals();
    ~CancelSignals();
    CancelSignals(const CancelSignals&) = delete;
    CancelSignals& operator=(const CancelSignals&) = delete;

    // Set once a signal has arrived; never cleared.
    std::atomic<bool>& flag() { return cancelled_; }
    bool cancelled() const { return cancelled_.load(); }

    // SIGINT or SIGTERM once cancelled, else 0.
    int signal_number() const { return signal_.load(); }

    // 128 + the signal, the exit status shells give a process stopped by it:
    // 130 for SIGINT, 143 for SIGTERM.
    int exit_code() const;

    // Throws ToolError(exit_code(), ...) once a signal has arrived.
    void throw_if_cancelled() const;

    // What a second signal does before the process ends with exit_code():
    // it must leave nothing half-written under a final name.
    void on_quit(std::function<void()> action);

private:
    void quit_now();

    sigset_t set_{}, previous_{};
    std::mutex quit_mutex_;
    std::function<void()> quit_action_;
    std::atomic<bool> cancelled_{false}, stopping_{false};
    std::atomic<int> signal_{0};
    std::thread watcher_;
};

}  // namespace lumatrail::tools
