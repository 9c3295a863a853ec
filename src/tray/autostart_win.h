// Start at login: the "NerovaBridge" value under the current user's Run key, and the record Windows
// keeps of an entry turned off in Task Manager or Settings.
#pragma once

namespace nerova::tray {

// True when this executable will start at login: the Run value starts it and no StartupApproved
// record turned it off.
bool is_autostart_enabled();

// On: deletes the Run value. Off: writes the quoted path of the running executable and clears a
// record that turned the entry off. Failures are silent.
void toggle_autostart();

}  // namespace nerova::tray
