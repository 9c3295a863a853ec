#include "tray/autostart_value.h"

#include "netinfo/wide_text.h"

namespace nerova::tray {

std::string autostart_command(std::u16string_view executable_path) {
    return "\"" + netinfo::utf16_to_utf8(executable_path) + "\"";
}

std::uint32_t registry_string_size(std::size_t units_without_nul) {
    return static_cast<std::uint32_t>((units_without_nul + 1) * 2);
}

}  // namespace nerova::tray
