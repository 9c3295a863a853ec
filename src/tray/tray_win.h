// The tray host's pieces on Windows that a test reaches.
#pragma once

#include <windows.h>

namespace nerova::tray {

// PostMessageW, by which a second start asks the running copy for its card; a test hands in a
// double (null puts the system's back).
using PostMessageFn = BOOL(WINAPI*)(HWND, UINT, WPARAM, LPARAM);
void set_post_message(PostMessageFn post);

}  // namespace nerova::tray
