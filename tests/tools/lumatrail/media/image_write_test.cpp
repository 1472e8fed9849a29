// Files written whole or not at all: pending files, a full disk or a file
// size limit in every output format, and a write cancelled as it goes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/tools/lumatrail/media/noise_world.h"
#include "tools/lumatrail/media/image_io.h"
#include "tools/lumatrail/media/pending_file.h"
#include "tests/support/scratch_folder.h"
#include "tests/tools/lumatrail/tool_failure.h"

namespace lumatrail::tools {
namespace {

namespace fs = std::filesystem;
using lumatrail::testing::bytes_of;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using testing_media::noise_world;

const char* const STILL_FORMATS[] = {"png", "jpg", "tif", "exr", "dpx", "bmp", "tga", "hdr", "webp"};

// Every name in the folder, sorted.
std::vector<std::string> names_in(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// What the write child printed for each path, a line each, run under a file
// size limit. SIGXFSZ is ignored, as the program ignores it, so that the
// limit makes writes fail with EFBIG instead of killing the process.
std::vector<std::string> run_write_child(const std::vector<std::string>& paths, int side, rlim_t limit) {
    const std::string side_text = std::to_string(side);
    std::vector<char*> argv{const_cast<char*>(MEDIA_WRITE_CHILD), const_cast<char*>(side_text.c_str())};
    for (const std::string& path : paths) argv.push_back(const_cast<char*>(path.c_str()));
    argv.push_back(nullptr);
    int out[2];
    if (::pipe(out) != 0) return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Between fork and exec only what is safe in a copy of a threaded process.
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit r{limit, limit};
        ::setrlimit(RLIMIT_FSIZE, &r);
        ::dup2(out[1], STDOUT_FILENO);
        ::close(out[0]);
        ::close(out[1]);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    std::string text;
    char buffer[512];
    for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) > 0;) text.append(buffer, std::size_t(n));
    ::close(out[0]);
    int status = 0;
    if (pid > 0) ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child failed: " << status;
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

struct ImageWrite : lumatrail::testing::ScratchFolderTest<> {};

TEST_F(ImageWrite, PendingFilesAppearWholeOrNotAtAll) {
    // Committed: the bytes under the final name, with a new file's mode.
    const mode_t previous_mask = ::umask(027);
    {
        PendingFile file(at("done.bin"));
        EXPECT_EQ(fs::path(file.temporary_path()).parent_path(), dir);
        EXPECT_THAT(fs::path(file.temporary_path()).filename().string(), ::testing::StartsWith(".done.bin."));
        EXPECT_THAT(file.temporary_path(), ::testing::EndsWith(".partial"));
        file.write_at("world", 5, 6);
        file.write_at("hello ", 6, 0);
        EXPECT_FALSE(fs::exists(at("done.bin")));
        file.commit();
    }
    ::umask(previous_mask);
    EXPECT_EQ(bytes_of(at("done.bin")), "hello world");
    struct stat st {};
    ASSERT_EQ(::stat(at("done.bin").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);

    // A writer that opens the temporary by name (a movie library) and closes it.
    {
        PendingFile file(at("movie.mov"));
        std::ofstream(file.temporary_path(), std::ios::binary) << "frames";
        file.commit();
    }
    EXPECT_EQ(bytes_of(at("movie.mov")), "frames");

    // Not committed, or failing at the rename (onto a folder): nothing is left.
    fs::create_directory(at("folder.png"));
    { PendingFile file(at("dropped.bin")); }
    PendingFile onto_folder(at("folder.png"));
    const ToolError e = failure_of([&] { onto_folder.commit(); });
    EXPECT_EQ(e.exit_code, EXIT_OUTPUT);
    EXPECT_EQ(std::string(e.what()), "cannot write \"" + at("folder.png") + "\": is a directory");
    EXPECT_THAT(names_in(dir), ElementsAre("done.bin", "folder.png", "movie.mov"));
    const ToolError missing = failure_of([&] { PendingFile(at("no/such/folder.png")); });
    EXPECT_EQ(std::string(missing.what()),
              "cannot write \"" + at("no/such/folder.png") + "\": no such file or directory");
    EXPECT_EQ(missing.exit_code, EXIT_OUTPUT);

    // The registry: a second Ctrl-C removes the temporaries being written from
    // another thread; their writers then fail, and no writer starts after.
    PendingFiles registry;
    std::optional<PendingFile> a(std::in_place, at("a.exr"), &registry),
        b(std::in_place, at("b.exr"), &registry);
    EXPECT_THAT(registry.paths(), ElementsAre(a->temporary_path(), b->temporary_path()));
    EXPECT_NE(a->temporary_path(), b->temporary_path());
    b->write_at("b", 1, 0);
    b->commit();
    EXPECT_THAT(registry.paths(), ElementsAre(a->temporary_path()));
    std::size_t removed = 0;
    std::thread([&] { removed = registry.remove_all(); }).join();
    EXPECT_EQ(removed, 1u);
    EXPECT_FALSE(fs::exists(a->temporary_path()));
    EXPECT_EQ(failure_of([&] { a->commit(); }).exit_code, EXIT_OUTPUT);
    EXPECT_EQ(failure_of([&] { PendingFile late(at("c.exr"), &registry); }).exit_code, EXIT_CANCELLED);
    a.reset(), b.reset();
    EXPECT_THAT(names_in(dir), ElementsAre("b.exr", "done.bin", "folder.png", "movie.mov"));
}

TEST_F(ImageWrite, AFileSizeLimitFailsEveryFormatLoudlyAndLeavesNothing) {
    constexpr rlim_t LIMIT = 4096;
    std::vector<std::string> paths;
    for (const char* format : STILL_FORMATS) {
        const std::string name = std::string("noise.") + format;
        if (!can_write(name)) continue;
        fs::create_directory(dir / format);
        paths.push_back((dir / format / name).string());
    }
    const std::vector<std::string> limited = run_write_child(paths, 256, LIMIT);
    ASSERT_EQ(limited.size(), paths.size());
    for (std::size_t k = 0; k < paths.size(); ++k) {
        SCOPED_TRACE(paths[k]);
        EXPECT_EQ(limited[k], "4 cannot write \"" + paths[k] + "\": file too large");
        EXPECT_THAT(names_in(fs::path(paths[k]).parent_path()), ElementsAre())
            << "nothing under the name, no temporary";
    }
    // The same writes without the limit make files larger than it, and nothing else.
    const std::vector<std::string> free = run_write_child(paths, 256, RLIM_INFINITY);
    ASSERT_EQ(free.size(), paths.size());
    for (std::size_t k = 0; k < paths.size(); ++k) {
        SCOPED_TRACE(paths[k]);
        EXPECT_EQ(free[k], "0");
        EXPECT_GT(fs::file_size(paths[k]), LIMIT);
        EXPECT_THAT(names_in(fs::path(paths[k]).parent_path()), ElementsAre(fs::path(paths[k]).filename()));
    }
}

// A tmpfs of 300 KB mounted over a folder for the test's life.
struct SmallDisk {
    fs::path at;
    bool mounted = false;
    std::string why_not;
    explicit SmallDisk(fs::path folder) : at(std::move(folder)) {
        fs::create_directory(at);
        if (::geteuid() != 0)
            why_not = "mounting a small tmpfs takes root";
        else if (::mount("tmpfs", at.c_str(), "tmpfs", 0, "size=300k") != 0)
            why_not = "this machine does not let the test mount a tmpfs: " + system_reason(errno);
        mounted = why_not.empty();
    }
    ~SmallDisk() {
        if (mounted) ::umount2(at.c_str(), MNT_DETACH);
    }
};

TEST_F(ImageWrite, AFullDiskFailsEveryFormatLoudlyAndLeavesNothing) {
    const SmallDisk disk(dir / "small");
    if (!disk.mounted) GTEST_SKIP() << disk.why_not;
    // Filled up to the last 16 KB, less than any format makes of the noise.
    {
        std::ofstream filler(disk.at / "filler", std::ios::binary);
        const std::string block(4096, 'x');
        while (filler.write(block.data(), std::streamsize(block.size())) && filler.flush()) {}
    }
    fs::resize_file(disk.at / "filler", fs::file_size(disk.at / "filler") - 16384);
    const offline::OfflineWorld noise = noise_world(256, 256);
    for (const char* format : STILL_FORMATS) {
        const std::string path = (disk.at / (std::string("noise.") + format)).string();
        if (!can_write(path)) continue;
        SCOPED_TRACE(path);
        const ToolError e = failure_of([&] { write_image(noise, path); });
        EXPECT_EQ(e.exit_code, EXIT_OUTPUT);
        EXPECT_EQ(std::string(e.what()), "cannot write \"" + path + "\": no space left on device");
        EXPECT_THAT(names_in(disk.at), ElementsAre("filler"));
    }
}

TEST_F(ImageWrite, ACancelledWriteStopsAndLeavesNothing) {
    const offline::OfflineWorld small = noise_world(64, 64), large = noise_world(4096, 2048);
    for (const char* format : {"png", "exr", "tif"}) {
        SCOPED_TRACE(format);
        const std::string path = at(std::string("noise.") + format);
        // Cancelled before it starts: not a byte is written.
        const std::atomic<bool> cancelled{true};
        const ToolError before = failure_of([&] { write_image(small, path, {}, {&cancelled, nullptr}); });
        EXPECT_EQ(before.exit_code, EXIT_CANCELLED);
        EXPECT_THAT(before.what(), HasSubstr("\"" + path + "\""));
        EXPECT_THAT(names_in(dir), ElementsAre());

        // Cancelled from another thread once the temporary holds data.
        std::atomic<bool> cancel{false}, finished{false};
        PendingFiles pending;
        std::thread watcher([&] {
            while (!finished.load()) {
                const std::vector<std::string> writing = pending.paths();
                std::error_code ec;
                if (!writing.empty() && fs::file_size(writing.front(), ec) > 0 && !ec) {
                    cancel = true;
                    return;
                }
                std::this_thread::yield();
            }
        });
        const ToolError during = failure_of([&] { write_image(large, path, {}, {&cancel, &pending}); });
        finished = true;
        watcher.join();
        EXPECT_TRUE(cancel.load()) << "the write ended before the watcher saw it";
        EXPECT_EQ(during.exit_code, EXIT_CANCELLED);
        EXPECT_THAT(names_in(dir), ElementsAre());
        EXPECT_THAT(pending.paths(), ElementsAre());
    }
}

}  // namespace
}  // namespace lumatrail::tools
