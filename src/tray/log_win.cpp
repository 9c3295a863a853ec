#include "tray/log_win.h"

#include <windows.h>

#include "common/text.h"
#include "platform/system.h"
#include "tray/handles_win.h"
#include "tray/log_format.h"

namespace nerova::tray {

void log_line(std::string_view message) {
    const auto appdata = platform::environment_variable("APPDATA");
    if (!appdata) return;
    platform::create_directories(log_folder(*appdata));
    // Append-only access puts every write at the current end, even with other writers.
    const FileHandle file(::CreateFileW(text::to_wide<wchar_t>(log_file(*appdata)).data(), FILE_APPEND_DATA,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    const std::string line = log_line_text(::GetTickCount64(), message);
    DWORD written = 0;
    ::WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

}  // namespace nerova::tray
