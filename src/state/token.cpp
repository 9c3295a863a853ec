#include "state/token.h"

#include <chrono>

#include "common/text.h"
#include "platform/system.h"

namespace nerova {

std::optional<std::string> token_from_file_content(std::string_view content) {
    if (!text::is_valid_utf8(content)) return std::nullopt;
    const std::string_view trimmed = text::trim(content);
    if (trimmed.size() != TOKEN_LENGTH) return std::nullopt;
    for (const char c : trimmed) {
        if (TOKEN_ALPHABET.find(c) == std::string_view::npos) return std::nullopt;
    }
    return std::string(trimmed);
}

std::string token_from_bytes(const std::array<std::uint8_t, TOKEN_LENGTH>& bytes) {
    std::string token;
    token.reserve(TOKEN_LENGTH);
    for (const std::uint8_t b : bytes) token.push_back(TOKEN_ALPHABET[b % TOKEN_ALPHABET.size()]);
    return token;
}

std::vector<std::uint8_t> fallback_random_bytes(std::size_t count, std::optional<std::uint64_t> unix_nanos,
                                                std::uint32_t pid) {
    constexpr std::uint64_t GOLDEN = 0x9E3779B97F4A7C15ULL;
    const std::uint64_t seed = unix_nanos ? (*unix_nanos ^ GOLDEN) : GOLDEN;
    std::uint64_t x = seed ^ (static_cast<std::uint64_t>(pid) << 32);
    std::vector<std::uint8_t> out(count);
    for (auto& byte : out) {
        x ^= x >> 12;
        x ^= x << 25;
        x ^= x >> 27;
        byte = static_cast<std::uint8_t>((x * 0x2545F4914F6CDD1DULL) >> 56);
    }
    return out;
}

std::vector<std::uint8_t> fallback_random_bytes(std::size_t count) {
    using namespace std::chrono;
    const auto since_epoch = system_clock::now().time_since_epoch();
    std::optional<std::uint64_t> nanos;
    if (since_epoch.count() >= 0) {
        // Unsigned arithmetic wraps modulo 2^64 as the seed rule wants.
        const auto secs = duration_cast<seconds>(since_epoch);
        const auto sub = duration_cast<nanoseconds>(since_epoch - secs);
        nanos = static_cast<std::uint64_t>(secs.count()) * 1'000'000'000ULL + static_cast<std::uint64_t>(sub.count());
    }
    return fallback_random_bytes(count, nanos, platform::process_id());
}

std::string generate_token() {
    std::array<std::uint8_t, TOKEN_LENGTH> bytes{};
    if (!platform::system_random(bytes.data(), bytes.size())) {
        const std::vector<std::uint8_t> fallback = fallback_random_bytes(TOKEN_LENGTH);
        std::copy(fallback.begin(), fallback.end(), bytes.begin());
    }
    return token_from_bytes(bytes);
}

std::string load_or_create_token(const std::string& data_folder, const std::string& token_file) {
    // Failures to create the folder only mean the token lasts for this run.
    platform::create_directories(data_folder);
    // A folder someone else controls may hold a planted token, or a link that turns the write
    // against another file: neither is read nor written.
    if (const std::optional<std::string> reason = platform::unsafe_folder_reason(data_folder)) {
        platform::write_standard_error("[NerovaBridge] not using " + data_folder + ": " + *reason +
                                       "; the token lasts for this run only\n");
        return generate_token();
    }
    if (const std::optional<std::string> content = platform::read_private_file(token_file, TOKEN_FILE_LIMIT)) {
        if (std::optional<std::string> token = token_from_file_content(*content)) return *token;
    }
    std::string token = generate_token();
    platform::replace_private_file(token_file, token);
    return token;
}

}  // namespace nerova
