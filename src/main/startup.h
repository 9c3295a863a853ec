// Process start-up: data folder, token, bridge state, listener, server thread, then the tray.
#pragma once

#include <optional>
#include <string>

namespace nerova {

inline constexpr int LISTEN_BACKLOG = 128;

// Where the program keeps its files, decided once at start-up.
struct DataPaths {
    std::string data_folder;
    std::string token_file;
    std::optional<std::string> log_file;  // the tray's popup.log; nothing when APPDATA is not set
};

// APPDATA exactly as set (an empty value gives a relative folder), else the platform's default base.
DataPaths data_paths(const std::optional<std::string>& appdata, const std::string& default_base);

// The bind-failure line, without its line feed.
std::string bind_failure_line(const std::string& os_message);

// Runs the program; returns only the exit status of a failed start.
int run_program();

}  // namespace nerova
