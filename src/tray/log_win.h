// The tray's diagnostic log, popup.log in the data folder.
#pragma once

#include <optional>
#include <string_view>

#include "tray/tray.h"

namespace nerova::tray {

// Where log_line writes from now on; nothing turns the log off. The tray's start sets it, before
// its first line, with the place start-up decided.
void set_log_place(std::optional<LogPlace> place);

// Appends one line; every failure only loses the line. Nothing is logged without a place.
void log_line(std::string_view message);

}  // namespace nerova::tray
