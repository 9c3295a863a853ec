#include "platform/system.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <csignal>
#include <fcntl.h>
#include <pthread.h>
#include <sys/random.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <limits>
#include <utility>

#include "platform/owned.h"

namespace nerova::platform {

std::optional<std::string> environment_variable(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

std::string temp_directory() {
    const char* value = std::getenv("TMPDIR");
    return value != nullptr && *value != '\0' ? value : "/tmp";
}

std::string default_data_base() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/') return config;  // a relative one is to be ignored
    const char* home = std::getenv("HOME");
    if (home != nullptr && *home != '\0') return join_path(home, ".config");
    return temp_directory();
}

std::string join_path(const std::string& base, const std::string& name) {
    if (base.empty() || base.back() == '/') return base + name;
    return base + "/" + name;
}

namespace {

struct DescriptorTraits {
    using Handle = int;
    static Handle empty() { return -1; }
    static void close(Handle fd) { ::close(fd); }
};
using FileDescriptor = Owned<DescriptorTraits>;

// Closes now and tells whether the close, and so the writes before it, succeeded.
bool close_checked(FileDescriptor& file) { return ::close(file.release()) == 0; }

// Appends what is left to read, up to `limit` bytes and one more; false on a read error.
bool read_up_to(int fd, std::size_t limit, std::string& content) {
    char buffer[4096];
    while (content.size() <= limit) {
        const std::size_t want = std::min(sizeof buffer, limit + 1 - content.size());
        const ssize_t n = ::read(fd, buffer, want);
        if (n > 0) {
            content.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0) {
            return true;
        } else if (errno != EINTR) {
            return false;
        }
    }
    return true;
}

bool write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace

std::optional<std::string> read_file(const std::string& path) {
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    constexpr std::size_t NO_LIMIT = std::numeric_limits<std::size_t>::max() - 1;
    std::string content;
    if (!file || !read_up_to(file.get(), NO_LIMIT, content)) return std::nullopt;
    return content;
}

bool write_file(const std::string& path, std::string_view bytes) {
    FileDescriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (!file) return false;
    const bool written = write_all(file.get(), bytes);
    return close_checked(file) && written;
}

bool create_directories(const std::string& path) {
    if (path.empty()) return true;
    // A parent that exists may still refuse creation, so only the outcome for the whole path counts.
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
        ::mkdir(path.substr(0, slash).c_str(), 0700);
    }
    struct stat info {};
    return (::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST) && ::stat(path.c_str(), &info) == 0 &&
           S_ISDIR(info.st_mode);
}

std::optional<std::string> read_private_file(const std::string& path, std::size_t limit) {
    // Non-blocking, so that opening a FIFO does not wait for a writer.
    const FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (!file || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    std::string content;
    if (!read_up_to(file.get(), limit, content) || content.size() > limit) return std::nullopt;
    return content;
}

bool replace_private_file(const std::string& path, std::string_view bytes) {
    const std::string fresh = path + ".new";
    ::unlink(fresh.c_str());
    FileDescriptor file(::open(fresh.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!file) return false;
    if (!write_all(file.get(), bytes) || !close_checked(file) || ::rename(fresh.c_str(), path.c_str()) != 0) {
        ::unlink(fresh.c_str());
        return false;
    }
    return true;
}

std::optional<std::string> unsafe_folder_reason(const std::string& path) {
    struct stat info {};
    // lstat: a link planted in place of the folder is judged itself, not what it points to.
    if (::lstat(path.empty() ? "." : path.c_str(), &info) != 0) return std::nullopt;
    if (!S_ISDIR(info.st_mode)) return std::string("it is not a folder");
    if (info.st_uid != ::geteuid()) return std::string("it belongs to another user");
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) return std::string("others may write to it");
    return std::nullopt;
}

bool system_random(std::uint8_t* out, std::size_t count) {
    while (count > 0) {
        const ssize_t n = ::getrandom(out, count, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        out += n;
        count -= static_cast<std::size_t>(n);
    }
    return true;
}

std::uint32_t process_id() { return static_cast<std::uint32_t>(::getpid()); }

void accept_backoff() {
    timespec pause{0, 50'000'000};
    while (::nanosleep(&pause, &pause) != 0 && errno == EINTR) {
    }
}

void exit_process(int status) { std::_Exit(status); }

void ignore_broken_pipes() { std::signal(SIGPIPE, SIG_IGN); }

void write_standard_error(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(STDERR_FILENO, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

namespace {
sigset_t shutdown_signals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}
}  // namespace

void raise_open_file_limit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

void block_shutdown_signals() {
    const sigset_t set = shutdown_signals();
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void wait_for_shutdown_signal() {
    const sigset_t set = shutdown_signals();
    int signal = 0;
    while (::sigwait(&set, &signal) != 0) {
    }
}

}  // namespace nerova::platform
