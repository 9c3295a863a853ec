// The location line of an SSDP answer: the first line (LF-split, one CR dropped, trimmed) that
// starts with "location:" in any ASCII case and has something after it.
#include "common/text.h"
#include "fuzz_support.h"
#include "upnp/ssdp.h"

namespace {

std::optional<std::string> first_location(std::string_view text) {
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find('\n', start);
        std::string_view line = text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        line = fuzz::trim_white_space(line);
        if (line.size() > 9 && fuzz::ascii_lower_equals(line.substr(0, 9), "location:")) {
            const std::string_view value = fuzz::trim_white_space(line.substr(9));
            if (!value.empty()) return std::string(value);
        }
        if (end == std::string_view::npos) return std::nullopt;
        start = end + 1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // No datagram is longer than the receive buffer.
    if (size > nerova::upnp::SSDP_RECEIVE_BUFFER) return 0;
    const std::string_view datagram(reinterpret_cast<const char*>(data), size);
    const std::optional<std::string> location = nerova::upnp::location_in_answer(datagram);
    const std::string text = nerova::text::utf8_lossy(datagram);
    FUZZ_CHECK(fuzz::valid_utf8(text));
    FUZZ_CHECK(location == first_location(text));
    if (location) {
        FUZZ_CHECK(!location->empty() && fuzz::is_trimmed(*location));
        FUZZ_CHECK(location->find('\n') == std::string::npos);
    }
    return 0;
}
