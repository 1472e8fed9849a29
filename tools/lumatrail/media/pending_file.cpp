#include "tools/lumatrail/media/pending_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <filesystem>
#include <random>
#include <system_error>

namespace lumatrail::tools {
namespace {

namespace fs = std::filesystem;

constexpr const char* SUFFIX = ".partial";
constexpr std::size_t RANDOM_CHARACTERS = 6;

// ".NAME.XXXXXX.partial" in the final name's folder, NAME shortened when the
// whole would pass the longest name a folder takes.
std::string temporary_name(const fs::path& final_path, std::mt19937_64& random) {
    static constexpr char LETTERS[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::string name = final_path.filename().string();
    const std::size_t extra = 2 + RANDOM_CHARACTERS + std::char_traits<char>::length(SUFFIX);
    name.resize(std::min(name.size(), std::size_t(NAME_MAX) - extra));
    std::string hidden = "." + name + ".";
    for (std::size_t k = 0; k < RANDOM_CHARACTERS; ++k)
        hidden.push_back(LETTERS[random() % (sizeof LETTERS - 1)]);
    hidden += SUFFIX;
    return (final_path.parent_path() / hidden).string();
}

// Creates a file of a new name, readable and writable as any new file is
// under the umask (0666 before it): a finished render is an ordinary file.
int create_unique(const std::string& final_path, std::string& temporary) {
    std::random_device seed;
    std::mt19937_64 random((std::uint64_t(seed()) << 32) ^ seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = temporary_name(fs::path(final_path), random);
        const int fd = ::open(temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

std::string folder_of(const std::string& path) {
    const fs::path parent = fs::path(path).parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

// Makes the rename itself durable. A folder that cannot be opened for
// reading (write-only) or a file system without folder syncs has done what
// it can: 0. Otherwise the error number.
int sync_folder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return 0;
    const int status = ::fsync(fd) == 0 || errno == EINVAL || errno == EROFS ? 0 : errno;
    ::close(fd);
    return status;
}

}  // namespace

std::string system_reason(int error) {
    std::string text = std::generic_category().message(error);
    if (!text.empty()) text[0] = char(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
}

ToolError write_error(const std::string& path, const std::string& reason) {
    return ToolError(EXIT_OUTPUT, "cannot write \"" + path + "\": " + reason);
}

int write_all_at(int fd, const void* data, std::size_t size, std::uint64_t offset) {
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::pwrite(fd, bytes, size, off_t(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        // A regular file takes at least a byte or says why not; never spin.
        if (n == 0) return EIO;
        bytes += n, size -= std::size_t(n), offset += std::uint64_t(n);
    }
    return 0;
}

bool PendingFiles::add(const std::string& temporary) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return false;
    paths_.push_back(temporary);
    return true;
}

void PendingFiles::drop(const std::string& temporary) {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto at = std::find(paths_.begin(), paths_.end(), temporary);
    if (at != paths_.end()) paths_.erase(at);
}

std::size_t PendingFiles::remove_all() {
    const std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    std::size_t removed = 0;
    for (const std::string& path : paths_) removed += ::unlink(path.c_str()) == 0;
    paths_.clear();
    return removed;
}

std::vector<std::string> PendingFiles::paths() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return paths_;
}

PendingFile::PendingFile(std::string final_path, PendingFiles* registry)
    : final_(std::move(final_path)), registry_(registry) {
    fd_ = create_unique(final_, temporary_);
    if (fd_ < 0) {
        done_ = true;
        throw write_error(final_, system_reason(errno));
    }
    if (registry_ && !registry_->add(temporary_)) {
        registry_ = nullptr;
        abandon();
        throw ToolError(EXIT_CANCELLED, "cancelled before \"" + final_ + "\" was written");
    }
}

PendingFile::~PendingFile() { abandon(); }

void PendingFile::abandon() noexcept {
    if (done_) return;
    done_ = true;
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    ::unlink(temporary_.c_str());
    if (registry_) registry_->drop(temporary_);
}

void PendingFile::fail(int error) { fail(system_reason(error)); }

void PendingFile::fail(const std::string& reason) {
    abandon();
    throw write_error(final_, reason);
}

void PendingFile::write_at(const void* data, std::size_t size, std::uint64_t offset) {
    if (done_) fail(EBADF);
    if (const int error = write_all_at(fd_, data, size, offset)) fail(error);
}

void PendingFile::commit() {
    if (done_) fail(EBADF);
    if (::fsync(fd_) != 0) fail(errno);
    // Linux releases the descriptor whatever close says, so it is never retried;
    // an error here (a network file system's late "no space") still fails the file.
    const int closed = ::close(fd_);
    fd_ = -1;
    if (closed != 0) fail(errno);
    if (::rename(temporary_.c_str(), final_.c_str()) != 0) fail(errno);
    done_ = true;
    if (registry_) registry_->drop(temporary_);
    if (const int error = sync_folder(folder_of(final_))) {
        // The data is whole but its name may not survive a crash: the
        // promise is all or nothing, so nothing.
        ::unlink(final_.c_str());
        throw write_error(final_, system_reason(error));
    }
}

}  // namespace lumatrail::tools
