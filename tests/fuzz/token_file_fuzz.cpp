// The token file's content, and the text helpers its check stands on. A token is accepted
// exactly when the content is valid UTF-8 and, trimmed of Unicode white space, is 32 alphabet
// bytes; the accepted token is that trimmed text.
#include "common/text.h"
#include "fuzz_support.h"
#include "state/token.h"

namespace {

bool alphabet_only(std::string_view text) {
    for (const char c : text) {
        const bool letter_or_digit = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        if (!letter_or_digit) return false;
    }
    return true;
}

void check_text_helpers(std::string_view bytes) {
    const bool valid = fuzz::valid_utf8(bytes);
    FUZZ_CHECK(nerova::text::is_valid_utf8(bytes) == valid);
    const std::string lossy = nerova::text::utf8_lossy(bytes);
    FUZZ_CHECK(fuzz::valid_utf8(lossy));
    if (valid) FUZZ_CHECK(lossy == bytes);
    if (!valid) return;
    FUZZ_CHECK(nerova::text::trim(bytes) == fuzz::trim_white_space(bytes));
    // Fields are the text between runs of white space.
    std::vector<std::string_view> fields;
    std::size_t field_start = std::string_view::npos;
    for (const auto& [offset, scalar] : fuzz::scalars(bytes)) {
        if (fuzz::white_space(scalar.value)) {
            if (field_start != std::string_view::npos) fields.push_back(bytes.substr(field_start, offset - field_start));
            field_start = std::string_view::npos;
        } else if (field_start == std::string_view::npos) {
            field_start = offset;
        }
    }
    if (field_start != std::string_view::npos) fields.push_back(bytes.substr(field_start));
    FUZZ_CHECK(nerova::text::split_whitespace(bytes) == fields);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view content(reinterpret_cast<const char*>(data), size);
    const std::optional<std::string> token = nerova::token_from_file_content(content);
    const bool valid = fuzz::valid_utf8(content);
    const std::string_view trimmed = valid ? fuzz::trim_white_space(content) : std::string_view();
    const bool expected = valid && trimmed.size() == nerova::TOKEN_LENGTH && alphabet_only(trimmed);
    FUZZ_CHECK(token.has_value() == expected);
    if (token) FUZZ_CHECK(*token == trimmed);
    check_text_helpers(content);
    return 0;
}
