// lumatrail: renders images, image sequences and animations with the
// Lumatrail effect from the shell, exactly as a host would: it loads the
// module, registers it, and drives everything through its EffectMain entry
// point with the offline host playing the host's part.
//
// main sets up the signals and turns a failure into its one line and exit
// code; tools/lumatrail/commands.h runs the command.
#include <pthread.h>
#include <signal.h>

#include <csignal>
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "tools/lumatrail/cancel_signals.h"
#include "tools/lumatrail/commands.h"
#include "tools/lumatrail/media/pending_file.h"
#include "tools/lumatrail/render_stats.h"
#include "tools/lumatrail/tool_error.h"

#if defined(__SANITIZE_ADDRESS__)
// libx265's 10-bit encoder keeps a little memory of its own to the end; the
// sanitized build's leak checker passes over that library alone.
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions() {
    return "leak:libx265.so\n";
}
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_options() {
    return "print_suppressions=0";
}
#endif

// Ctrl-C and SIGTERM are blocked before main, while the libraries start, so
// that one arriving then waits for the watcher main makes instead of killing
// the process.
[[gnu::constructor]] static void block_cancel_signals_before_main() {
    const sigset_t set = lumatrail::tools::cancel_signal_set();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

int main(int argc, char** argv) {
    using namespace lumatrail::tools;
    // First, so that the start-up is measured up to here and no further.
    const std::optional<double> startup_ms = time_since_process_start_ms();
    // Before any other thread exists, so that every thread inherits the
    // blocked signals and only the watcher takes them.
    CancelSignals signals;
    // A second signal removes the files being written before it quits.
    PendingFiles pending;
    signals.on_quit([&pending] { pending.remove_all(); });
    Cancel cancel{signals, pending};
    // A file size limit (ulimit -f) makes a write fail with "file too large"
    // rather than kill the process, so the error is reported and the file removed.
    std::signal(SIGXFSZ, SIG_IGN);
    const auto exit_code = [&](int code) {
        // A cancel wins over the error it caused on the way out.
        return signals.cancelled() && code != 0 && code != EXIT_EFFECT ? signals.exit_code() : code;
    };
    try {
        return exit_code(
            run_command_line(std::vector<std::string>(argv + 1, argv + argc), {startup_ms, 0.0}, cancel));
    } catch (const ToolError& e) {
        std::fprintf(stderr, "lumatrail: %s\n", e.what());
        if (e.exit_code == EXIT_USAGE) std::fputs("(see lumatrail --help)\n", stderr);
        return exit_code(e.exit_code);
    } catch (const std::bad_alloc&) {
        std::fputs("lumatrail: out of memory\n", stderr);
        return exit_code(EXIT_INPUT);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "lumatrail: %s\n", e.what());
        return exit_code(EXIT_INTERNAL);
    }
}
