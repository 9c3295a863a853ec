#include "tray/autostart_value.h"

#include "common/text.h"

namespace nerova::tray {
namespace {

char16_t fold(char16_t unit) {
    if (unit >= u'a' && unit <= u'z') return static_cast<char16_t>(unit - u'a' + u'A');
    if (unit == u'/') return u'\\';
    return unit;
}

bool same_path(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size() || a.empty()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (fold(a[i]) != fold(b[i])) return false;
    }
    return true;
}

std::u16string_view trim(std::u16string_view text) {
    const std::size_t first = text.find_first_not_of(u" \t");
    if (first == std::u16string_view::npos) return {};
    const std::size_t last = text.find_last_not_of(u" \t");
    return text.substr(first, last - first + 1);
}

}  // namespace

std::string autostart_command(std::u16string_view executable_path) {
    return "\"" + text::utf16_to_utf8(executable_path) + "\"";
}

std::uint32_t registry_string_size(std::size_t units_without_nul) {
    return static_cast<std::uint32_t>((units_without_nul + 1) * 2);
}

bool approval_record_disabled(const std::vector<std::uint8_t>& record) {
    return !record.empty() && (record[0] & 1) != 0;
}

bool run_command_starts(std::u16string_view command, std::u16string_view executable_path) {
    const std::u16string_view text = trim(command);
    if (!text.empty() && text.front() == u'"') {
        const std::u16string_view rest = text.substr(1);
        return same_path(rest.substr(0, rest.find(u'"')), executable_path);
    }
    return same_path(text, executable_path) || same_path(text.substr(0, text.find(u' ')), executable_path);
}

bool will_start_at_login(const std::optional<std::u16string>& run_command,
                         const std::optional<std::vector<std::uint8_t>>& approval_record,
                         std::u16string_view executable_path) {
    if (!run_command || !run_command_starts(*run_command, executable_path)) return false;
    return !approval_record || !approval_record_disabled(*approval_record);
}

}  // namespace nerova::tray
