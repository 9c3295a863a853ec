// Process start-up: data folder, token, bridge state, listener, server thread, then the tray.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

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

// A listening socket of the system's TCP table: IPv4 address and port in host order.
struct TcpListener {
    std::uint32_t address;
    std::uint16_t port;
    std::uint32_t pid;
};

// The process listening on 127.0.0.1:`port`, or on every address at that port; an exact match wins.
std::optional<std::uint32_t> port_holder(const std::vector<TcpListener>& listeners, std::uint16_t port);

// The bind-failure line for a message box, with the program that holds the port where known
// (`program` empty when its name cannot be read); `elevated` when that is a copy of ours running as
// administrator, which this start could not ask for its card.
std::string bind_failure_box_text(const std::string& line, std::optional<std::uint32_t> pid,
                                  const std::string& program, bool elevated);

// On Windows, where a windowed program's standard error reaches no one: the line in a message
// box. Nothing elsewhere.
void show_bind_failure(const std::string& line, bool elevated);

// Runs the program; returns only the exit status of a failed start.
int run_program();

}  // namespace nerova
