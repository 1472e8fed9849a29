// Output files that appear whole or not at all.
//
// A PendingFile is written under a hidden temporary name in the folder of its
// final name (".NAME.XXXXXX.partial", unique to the writer, with the mode any
// new file gets under the umask). Every write is checked to its last byte;
// commit() makes the data durable and renames it onto the final name. A file
// that is never committed, or whose writing or commit fails, is removed: a
// failure leaves nothing under the final name and no temporary behind, and
// says why in one line, "cannot write "NAME": no space left on device".
//
// A writer that opens files by name itself (a movie library) writes to
// temporary_path() and leaves fd() alone; commit() after it has closed the
// file syncs the same file, since both name one inode.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "tools/lumatrail/tool_error.h"

namespace lumatrail::tools {

// The system's text for an error number, in lower case: "file too large".
std::string system_reason(int error);

// ToolError(EXIT_OUTPUT, "cannot write "PATH": REASON").
ToolError write_error(const std::string& path, const std::string& reason);

// Writes every byte at the offset, retrying interrupted and partial writes;
// 0 when done, else the error number that stopped it. Never throws.
int write_all_at(int fd, const void* data, std::size_t size, std::uint64_t offset);

// The temporaries being written right now. A second Ctrl-C removes them from
// the signal thread (remove_all) while the writers still hold them open;
// after that the registry takes no more, so a writer starting late cannot
// leave one behind either.
class PendingFiles {
public:
    // False once remove_all() has run: the caller removes its file itself.
    bool add(const std::string& temporary);
    void drop(const std::string& temporary);
    // Unlinks every temporary registered; callable from any thread. How many.
    std::size_t remove_all();
    std::vector<std::string> paths() const;

private:
    mutable std::mutex mutex_;
    std::vector<std::string> paths_;
    bool closed_ = false;
};

class PendingFile {
public:
    // Creates the temporary, registered with the registry when there is one.
    // Throws ToolError(EXIT_OUTPUT) when the folder takes no new file, and
    // ToolError(EXIT_CANCELLED) when the registry has been emptied for good.
    explicit PendingFile(std::string final_path, PendingFiles* registry = nullptr);
    // Unless committed: closes and removes the temporary.
    ~PendingFile();
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    int fd() const { return fd_; }
    const std::string& final_path() const { return final_; }
    const std::string& temporary_path() const { return temporary_; }

    // Every byte at the offset; on failure the file is abandoned and the
    // error thrown.
    void write_at(const void* data, std::size_t size, std::uint64_t offset);

    // Syncs the data, closes, renames onto the final name and syncs the
    // folder, so that the name never shows a partial file, even after a
    // crash. Throws (having removed everything) when any step fails.
    void commit();

    // Abandons the file: removes the temporary and throws the write error
    // with the system's reason for the error number, or with the reason given.
    [[noreturn]] void fail(int error);
    [[noreturn]] void fail(const std::string& reason);

    // Removes the temporary without throwing (also what the destructor does).
    void abandon() noexcept;

private:
    std::string final_, temporary_;
    PendingFiles* registry_ = nullptr;
    int fd_ = -1;
    bool done_ = false;  // committed or abandoned: nothing left to clean up
};

}  // namespace lumatrail::tools
