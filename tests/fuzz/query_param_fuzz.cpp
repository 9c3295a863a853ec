// query_param against a plain reading of the rule: pieces between "&", key up to the first "=",
// the first piece with the key wins. The answer must also point into the query it was given.
#include "fuzz_support.h"
#include "http/routes.h"

namespace {

std::optional<std::string> first_value(const std::string& query, const std::string& key) {
    std::vector<std::string> pieces(1);
    for (const char c : query) {
        if (c == '&') {
            pieces.emplace_back();
        } else {
            pieces.back() += c;
        }
    }
    for (const std::string& piece : pieces) {
        const std::size_t equals = piece.find('=');
        const std::string piece_key = equals == std::string::npos ? piece : piece.substr(0, equals);
        if (piece_key == key) return equals == std::string::npos ? "" : piece.substr(equals + 1);
    }
    return std::nullopt;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider provider(data, size);
    // Mostly the key that matters; sometimes any key.
    const std::string key = provider.ConsumeBool() ? "token" : provider.ConsumeRandomLengthString(16);
    const std::string query = provider.ConsumeRemainingBytesAsString();

    const std::optional<std::string_view> found = nerova::http::query_param(query, key);
    const std::optional<std::string> expected = first_value(query, key);
    FUZZ_CHECK(found.has_value() == expected.has_value());
    if (found) {
        FUZZ_CHECK(*found == *expected);
        FUZZ_CHECK(found->empty() ||
                   (found->data() >= query.data() && found->data() + found->size() <= query.data() + query.size()));
    }
    return 0;
}
