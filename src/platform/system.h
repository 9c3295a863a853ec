// Process services: environment, paths and files, random bytes, timing and exit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace nerova::platform {

// Value of an environment variable as UTF-8; nothing when it is not set (an empty value is a value).
std::optional<std::string> environment_variable(const char* name);

// The system's temporary folder, ending in a separator; empty when the system gives none.
std::string temp_directory();

// Where a per-user data folder goes when APPDATA is not set: on POSIX the user's configuration
// folder ($XDG_CONFIG_HOME, else ~/.config), the temporary folder only without a home; on Windows
// the temporary folder.
std::string default_data_base();

// base + separator + name, without doubling a separator the base already ends with.
std::string join_path(const std::string& base, const std::string& name);

// All paths are UTF-8.
std::optional<std::string> read_file(const std::string& path);
bool write_file(const std::string& path, std::string_view bytes);  // create or truncate
bool create_directories(const std::string& path);  // missing ones private to the user

// A file someone else may have planted: only a regular file reached without a link, and only
// when it holds at most `limit` bytes; nothing otherwise (a FIFO, a device, a link, too long).
std::optional<std::string> read_private_file(const std::string& path, std::size_t limit);

// Writes a new file beside `path`, readable by the user alone, and renames it into place, so a
// link at `path` is replaced, never followed, and a reader never sees half a file.
bool replace_private_file(const std::string& path, std::string_view bytes);

// Why a folder is not safe to keep a secret in (it belongs to another user, or others may write
// to it), or nothing when it is. Nothing on Windows, whose per-user folders are private already.
std::optional<std::string> unsafe_folder_reason(const std::string& path);

// Bytes from the operating system's cryptographic source; false when it fails.
bool system_random(std::uint8_t* out, std::size_t count);

std::uint32_t process_id();

// The pause after a failed accept: 50 ms, on a high-resolution timer where there is one.
void accept_backoff();

// Starts a detached thread; false when the system could not create one, nor find the memory to.
template <typename Fn>
bool spawn_detached(Fn&& body);

[[noreturn]] void exit_process(int status);

// Raw bytes to standard error, with no newline translation.
void write_standard_error(std::string_view bytes);

// A write to a pipe or socket whose reader has gone fails instead of killing the process (POSIX).
void ignore_broken_pipes();

// Every connection holds a descriptor: lift the soft limit to the hard one where there is one.
void raise_open_file_limit();

// Headless runs end on SIGINT or SIGTERM. The signals are blocked before any thread starts, so
// that only the waiting main thread ever takes them.
void block_shutdown_signals();
void wait_for_shutdown_signal();

}  // namespace nerova::platform

#include <new>
#include <system_error>
#include <thread>

template <typename Fn>
bool nerova::platform::spawn_detached(Fn&& body) {
    try {
        std::thread(std::forward<Fn>(body)).detach();
        return true;
    } catch (const std::system_error&) {
        return false;
    } catch (const std::bad_alloc&) {
        return false;
    }
}
