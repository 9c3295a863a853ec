// Where the service listens and the name of its data folder: one definition for start-up and the
// tray.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace nerova {

inline constexpr std::string_view LISTEN_HOST = "127.0.0.1";
inline constexpr std::uint16_t LISTEN_PORT = 17668;
inline constexpr std::string_view DATA_FOLDER_NAME = "NerovaBridge";

// "127.0.0.1:17668".
std::string listen_address();

// "http://127.0.0.1:17668" followed by the path.
std::string service_url(std::string_view path);

}  // namespace nerova
