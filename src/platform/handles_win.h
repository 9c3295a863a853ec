// Owners for the Windows kernel handles the platform layer and the tray hold.
#pragma once

#include <windows.h>

#include "platform/owned.h"

namespace nerova::platform {

// CreateFileW reports failure as INVALID_HANDLE_VALUE, most other calls as a null handle.
struct FileTraits {
    using Handle = HANDLE;
    static Handle empty() { return INVALID_HANDLE_VALUE; }
    static void close(Handle file) { ::CloseHandle(file); }
};
struct KernelObjectTraits {
    using Handle = HANDLE;
    static Handle empty() { return nullptr; }
    static void close(Handle object) { ::CloseHandle(object); }
};

using FileHandle = Owned<FileTraits>;
using KernelObject = Owned<KernelObjectTraits>;

}  // namespace nerova::platform
