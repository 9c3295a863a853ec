// The tray's diagnostic log, %APPDATA%\NerovaBridge\popup.log.
#pragma once

#include <string_view>

namespace nerova::tray {

// Appends one line; every failure only loses the line. Nothing is logged when APPDATA is unset.
void log_line(std::string_view message);

}  // namespace nerova::tray
