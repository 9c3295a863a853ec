#include "netinfo/address_text.h"

#include <cstddef>

namespace nerova::netinfo {
namespace {

std::string dotted(const std::uint8_t* bytes) {
    std::string out;
    for (int i = 0; i < 4; ++i) {
        if (i > 0) out += '.';
        out += std::to_string(bytes[i]);
    }
    return out;
}

std::string ipv6_text(const std::array<std::uint8_t, 16>& bytes) {
    bool mapped = bytes[10] == 0xFF && bytes[11] == 0xFF;
    for (std::size_t i = 0; i < 10 && mapped; ++i) mapped = bytes[i] == 0;
    if (mapped) return "::ffff:" + dotted(&bytes[12]);

    unsigned groups[8];
    for (std::size_t i = 0; i < 8; ++i) groups[i] = (unsigned{bytes[2 * i]} << 8) | bytes[2 * i + 1];

    // The first of the longest runs of zero groups, when at least two long.
    std::size_t best_start = 8, best_length = 0;
    for (std::size_t i = 0; i < 8;) {
        if (groups[i] != 0) {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < 8 && groups[end] == 0) ++end;
        if (end - i > best_length) {
            best_start = i;
            best_length = end - i;
        }
        i = end;
    }
    if (best_length < 2) best_start = 8;

    constexpr char HEX[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < 8; ++i) {
        if (i == best_start) {
            out += "::";
            i += best_length - 1;
            continue;
        }
        if (!out.empty() && out.back() != ':') out += ':';
        bool started = false;
        for (int shift = 12; shift >= 0; shift -= 4) {
            const unsigned digit = (groups[i] >> shift) & 0xF;
            if (digit != 0 || started || shift == 0) {
                out += HEX[digit];
                started = true;
            }
        }
    }
    return out;
}

}  // namespace

std::string address_to_text(const AddressEntry& address) {
    if (!address) return {};
    if (address->family == platform::Family::ipv4) return dotted(address->bytes.data());
    return ipv6_text(address->bytes);
}

}  // namespace nerova::netinfo
