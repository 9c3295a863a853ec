#include "platform/system.h"

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

std::string join_path(const std::string& base, const std::string& name) {
    if (base.empty() || base.back() == '/') return base + name;
    return base + "/" + name;
}

std::optional<std::string> read_file(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string content;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            content.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            ::close(fd);
            return std::nullopt;
        }
    }
    ::close(fd);
    return content;
}

bool write_file(const std::string& path, std::string_view bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool ok = true;
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return ::close(fd) == 0 && ok;
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
