#include "tray/log_win.h"

#include <windows.h>

#include <mutex>

#include "common/text.h"
#include "platform/system.h"
#include "tray/handles_win.h"
#include "tray/log_format.h"

namespace nerova::tray {
namespace {

std::mutex place_mutex;
std::optional<LogPlace> log_place;

std::optional<LogPlace> current_place() {
    const std::lock_guard<std::mutex> lock(place_mutex);
    return log_place;
}

}  // namespace

void set_log_place(std::optional<LogPlace> place) {
    const std::lock_guard<std::mutex> lock(place_mutex);
    log_place = std::move(place);
}

void log_line(std::string_view message) {
    const std::optional<LogPlace> place = current_place();
    if (!place) return;
    platform::create_directories(place->folder);
    // Append-only access puts every write at the current end, even with other writers.
    const FileHandle file(::CreateFileW(text::to_wide<wchar_t>(place->file).data(), FILE_APPEND_DATA,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    const std::string line = log_line_text(::GetTickCount64(), message);
    DWORD written = 0;
    ::WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

}  // namespace nerova::tray
