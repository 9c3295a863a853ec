#include "platform/system.h"

#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <limits>
#include <vector>

#include "common/text.h"
#include "platform/handles_win.h"

// Older SDK headers (MinGW-w64 among them) lack this Windows 10 1803 flag.
#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace nerova::platform {
namespace {

// Windows wants NUL-terminated UTF-16; paths and names are UTF-8 everywhere else.
std::wstring widen(const std::string& utf8) {
    const std::vector<wchar_t> wide = text::to_wide<wchar_t>(utf8);
    return std::wstring(wide.data(), wide.size() - 1);
}

}  // namespace

std::optional<std::string> environment_variable(const char* name) {
    const std::wstring wide_name = widen(name);
    ::SetLastError(ERROR_SUCCESS);
    DWORD size = ::GetEnvironmentVariableW(wide_name.c_str(), nullptr, 0);
    if (size == 0) {
        if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
        return std::string();
    }
    std::vector<wchar_t> buffer(size);
    size = ::GetEnvironmentVariableW(wide_name.c_str(), buffer.data(), size);
    return text::from_wide(buffer.data(), size);
}

// GetTempPath2W where the system has it (Windows 11, recent 10), else GetTempPathW. Both write at
// most MAX_PATH characters and the NUL; a larger result is the size they would have needed.
std::string temp_directory() {
    using GetTempPath2Fn = DWORD(WINAPI*)(DWORD, LPWSTR);
    const HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    const FARPROC found = kernel != nullptr ? ::GetProcAddress(kernel, "GetTempPath2W") : nullptr;
    const auto get_temp_path2 = reinterpret_cast<GetTempPath2Fn>(reinterpret_cast<void (*)()>(found));
    wchar_t buffer[MAX_PATH + 1];
    const DWORD length =
        get_temp_path2 != nullptr ? get_temp_path2(MAX_PATH + 1, buffer) : ::GetTempPathW(MAX_PATH + 1, buffer);
    if (length == 0 || length > MAX_PATH) return {};
    return text::from_wide(buffer, length);
}

std::string default_data_base() { return temp_directory(); }

std::string join_path(const std::string& base, const std::string& name) {
    if (base.empty() || base.back() == '\\' || base.back() == '/') return base + name;
    return base + "\\" + name;
}

namespace {

// Appends what is left to read, up to `limit` bytes and one more; false on a read error.
bool read_up_to(HANDLE file, std::size_t limit, std::string& content) {
    char buffer[4096];
    while (content.size() <= limit) {
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(sizeof buffer, limit + 1 - content.size()));
        DWORD read = 0;
        if (!::ReadFile(file, buffer, want, &read, nullptr)) return false;
        if (read == 0) return true;
        content.append(buffer, read);
    }
    return true;
}

bool write_all(HANDLE file, std::string_view bytes) {
    while (!bytes.empty()) {
        DWORD written = 0;
        if (!::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) || written == 0) {
            return false;
        }
        bytes.remove_prefix(written);
    }
    return true;
}

}  // namespace

std::optional<std::string> read_file(const std::string& path) {
    FileHandle file(::CreateFileW(widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    constexpr std::size_t NO_LIMIT = std::numeric_limits<std::size_t>::max() - 1;
    std::string content;
    if (!file || !read_up_to(file.get(), NO_LIMIT, content)) return std::nullopt;
    return content;
}

bool write_file(const std::string& path, std::string_view bytes) {
    FileHandle file(::CreateFileW(widen(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.get() != INVALID_HANDLE_VALUE && write_all(file.get(), bytes);
}

std::optional<std::string> read_private_file(const std::string& path, std::size_t limit) {
    // FILE_FLAG_OPEN_REPARSE_POINT opens a link itself, which the attribute check then refuses.
    FileHandle file(::CreateFileW(widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file || ::GetFileType(file.get()) != FILE_TYPE_DISK) return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file.get(), &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
        return std::nullopt;
    }
    std::string content;
    if (!read_up_to(file.get(), limit, content) || content.size() > limit) return std::nullopt;
    return content;
}

bool replace_private_file(const std::string& path, std::string_view bytes) {
    const std::wstring target = widen(path);
    const std::wstring fresh = target + L".new";
    bool written = false;
    {
        FileHandle file(::CreateFileW(fresh.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                      nullptr));
        if (!file) return false;
        written = write_all(file.get(), bytes);
    }
    if (written && ::MoveFileExW(fresh.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return true;
    }
    ::DeleteFileW(fresh.c_str());
    return false;
}

std::optional<std::string> unsafe_folder_reason(const std::string&) { return std::nullopt; }

bool create_directories(const std::string& path) {
    const std::wstring wide = widen(path);
    for (std::size_t pos = 0; pos <= wide.size(); ++pos) {
        if (pos != wide.size() && wide[pos] != L'\\' && wide[pos] != L'/') continue;
        const std::wstring prefix = wide.substr(0, pos);
        // A parent that exists may still refuse creation (a drive root, a folder without write
        // access), so only the outcome for the whole path counts.
        if (!prefix.empty()) ::CreateDirectoryW(prefix.c_str(), nullptr);
    }
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool system_random(std::uint8_t* out, std::size_t count) {
    return BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, out, static_cast<ULONG>(count), BCRYPT_USE_SYSTEM_PREFERRED_RNG));
}

std::uint32_t process_id() { return ::GetCurrentProcessId(); }

void accept_backoff() {
    const KernelObject timer(
        ::CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, TIMER_ALL_ACCESS));
    LARGE_INTEGER due;
    due.QuadPart = -500000;  // relative, in 100 ns units: 50 ms
    if (timer && ::SetWaitableTimer(timer.get(), &due, 0, nullptr, nullptr, FALSE) &&
        ::WaitForSingleObject(timer.get(), INFINITE) == WAIT_OBJECT_0) {
        return;
    }
    ::Sleep(50);
}

void exit_process(int status) { ::ExitProcess(static_cast<UINT>(status)); }

void write_standard_error(std::string_view bytes) {
    // A windowed program usually has no standard error; then the line goes nowhere.
    const HANDLE handle = ::GetStdHandle(STD_ERROR_HANDLE);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
    while (!bytes.empty()) {
        DWORD written = 0;
        if (!::WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) || written == 0) return;
        bytes.remove_prefix(written);
    }
}

void ignore_broken_pipes() {}

void raise_open_file_limit() {}

void block_shutdown_signals() {}

void wait_for_shutdown_signal() {
    for (;;) ::Sleep(INFINITE);
}

}  // namespace nerova::platform
