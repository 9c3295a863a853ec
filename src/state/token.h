// The access token: the shared secret a web page presents to open the live channel.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nerova {

inline constexpr std::size_t TOKEN_LENGTH = 32;
// The order fixes which character a random byte becomes.
inline constexpr std::string_view TOKEN_ALPHABET = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

// A token file longer than this is invalid, whatever it holds.
inline constexpr std::size_t TOKEN_FILE_LIMIT = 4096;

// The token held by a token file's content, or nothing when the content is not valid UTF-8 or,
// trimmed of Unicode white space, is not exactly TOKEN_LENGTH alphabet bytes.
std::optional<std::string> token_from_file_content(std::string_view content);

// Each byte b becomes TOKEN_ALPHABET[b mod 62].
std::string token_from_bytes(const std::array<std::uint8_t, TOKEN_LENGTH>& bytes);

// xorshift64* seeded from the wall clock (nanoseconds since 1970, or nothing before 1970) and
// the process identifier; only used when the system's random source fails.
std::vector<std::uint8_t> fallback_random_bytes(std::size_t count, std::optional<std::uint64_t> unix_nanos,
                                                std::uint32_t pid);
std::vector<std::uint8_t> fallback_random_bytes(std::size_t count);

std::string generate_token();

// Loads the token from the file, or makes one and tries to save it. Never fails. A data folder
// that belongs to someone else, or that others may write, is neither read nor written: the token
// then lasts for this run, and one line on standard error says why.
std::string load_or_create_token(const std::string& data_folder, const std::string& token_file);

}  // namespace nerova
