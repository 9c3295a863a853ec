// Start at login: the "NerovaBridge" value under the current user's Run key.
#pragma once

namespace nerova::tray {

// True when a value of that name exists, whatever its type or data.
bool is_autostart_enabled();

// Deletes the value when it exists, else writes the quoted path of the running executable.
// Failures are silent.
void toggle_autostart();

}  // namespace nerova::tray
