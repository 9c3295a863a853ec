// UTF-16 text from the Windows adapter list as UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace nerova::netinfo {

// Each unpaired surrogate becomes U+FFFD.
std::string utf16_to_utf8(std::u16string_view text);

}  // namespace nerova::netinfo
