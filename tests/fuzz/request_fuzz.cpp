// Request reading over a source that hands out the input in chunks of any size. How the bytes
// were cut must not change what is read, and what comes out keeps the reader's bounds.
#include <algorithm>
#include <cstring>

#include "common/text.h"
#include "fuzz_support.h"
#include "http/live_channel.h"
#include "http/request.h"

namespace {

using nerova::http::BufferedReader;
using nerova::http::Request;
using nerova::platform::IoResult;
using nerova::platform::IoStatus;

constexpr std::size_t CAPACITY = nerova::http::READER_CAPACITY;

// The bytes of one connection, then how it ends; each receive hands out the next chunk size.
struct Source {
    std::string_view bytes;
    IoStatus end;
    std::vector<std::size_t> chunks;
    std::size_t offset = 0;
    std::size_t next_chunk = 0;

    IoResult receive(char* buffer, std::size_t size) {
        FUZZ_CHECK(size == CAPACITY);
        if (offset == bytes.size()) return {end, 0};
        const std::size_t chunk = chunks[next_chunk++ % chunks.size()];
        const std::size_t count = std::min({size, chunk, bytes.size() - offset});
        std::memcpy(buffer, bytes.data() + offset, count);
        offset += count;
        return {IoStatus::ok, count};
    }
};

struct Outcome {
    std::optional<Request> request;
    std::vector<std::string> lines;
    std::size_t request_consumed = 0;
    std::size_t lines_consumed = 0;
};

bool same_request(const std::optional<Request>& a, const std::optional<Request>& b) {
    if (a.has_value() != b.has_value()) return false;
    if (!a) return true;
    return a->method == b->method && a->path == b->path && a->query == b->query && a->headers == b->headers;
}

Outcome read_both_ways(std::string_view bytes, IoStatus end, const std::vector<std::size_t>& chunks) {
    Outcome outcome;
    {
        Source source{bytes, end, chunks};
        BufferedReader reader([&source](char* buffer, std::size_t size) { return source.receive(buffer, size); });
        outcome.request = nerova::http::read_request(reader);
        outcome.request_consumed = source.offset - reader.unread().size();
    }
    {
        Source source{bytes, end, chunks};
        BufferedReader reader([&source](char* buffer, std::size_t size) { return source.receive(buffer, size); });
        // Every line costs at least one byte, so this ends.
        while (std::optional<std::string> line = nerova::http::read_line(reader)) outcome.lines.push_back(std::move(*line));
        outcome.lines_consumed = source.offset - reader.unread().size();
    }
    return outcome;
}

// A kept line holds at most MAX_LINE_BYTES input bytes; each may grow to a 3-byte U+FFFD.
constexpr std::size_t MAX_LINE_TEXT = 3 * nerova::http::MAX_LINE_BYTES;

void check_line(std::string_view line) {
    FUZZ_CHECK(fuzz::valid_utf8(line));
    FUZZ_CHECK(line.find('\n') == std::string_view::npos);
    FUZZ_CHECK(line.size() <= MAX_LINE_TEXT);
}

void check_request(const Request& request) {
    // The fields keep the bytes that came, so they cost no more than a line; the rules speak of
    // their text.
    const auto text = [](const std::string& bytes) { return nerova::text::utf8_lossy(bytes); };
    FUZZ_CHECK(!request.method.empty());
    // Each field read alone, as the '?' between path and query parts them: joined, a lead byte
    // ending the path and a continuation byte starting the query would make a U+00A0 never sent.
    for (const std::string* field : {&request.method, &request.path, &request.query}) {
        for (const auto& [offset, scalar] : fuzz::scalars(text(*field))) FUZZ_CHECK(!fuzz::white_space(scalar.value));
    }
    FUZZ_CHECK(request.path.find('?') == std::string::npos);
    FUZZ_CHECK(request.method.size() + request.path.size() + request.query.size() <= nerova::http::MAX_LINE_BYTES);
    FUZZ_CHECK(request.headers.size() <= nerova::http::MAX_HEADERS);
    for (std::size_t i = 0; i < request.headers.size(); ++i) {
        const auto& [name, value] = request.headers[i];
        FUZZ_CHECK(fuzz::is_trimmed(text(name)) && fuzz::is_trimmed(text(value)));
        FUZZ_CHECK(name.find(':') == std::string::npos);
        FUZZ_CHECK(name.size() + value.size() < nerova::http::MAX_LINE_BYTES);
        // The first header of a name wins, whatever the letter case.
        const std::optional<std::string_view> found = nerova::http::find_header(request.headers, name);
        FUZZ_CHECK(found.has_value());
        const std::string lower = fuzz::ascii_lower(name);
        std::size_t first = 0;
        while (!fuzz::ascii_lower_equals(request.headers[first].first, lower)) ++first;
        FUZZ_CHECK(first <= i && found->data() == request.headers[first].second.data());
    }
}

// The 101 answer to whatever key and protocol header a request carries: the fixed lines, a
// 28-character accept value, and the protocol line only when a trimmed piece names ours exactly.
void check_handshake(const Request& request) {
    using nerova::http::find_header;
    const std::string key(find_header(request.headers, "Sec-WebSocket-Key").value_or(""));
    const std::optional<std::string_view> offered = find_header(request.headers, "Sec-WebSocket-Protocol");
    const std::string answer = nerova::http::handshake_answer(key, offered);
    constexpr std::string_view START =
        "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Accept: ";
    FUZZ_CHECK(answer.compare(0, START.size(), START) == 0);
    const std::string accept = answer.substr(START.size(), 28);
    FUZZ_CHECK(accept.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/") == 27 &&
               accept[27] == '=');
    bool ours = false;
    if (offered) {
        std::string_view rest = *offered;
        for (;;) {
            const std::size_t comma = rest.find(',');
            ours = ours || fuzz::trim_white_space(rest.substr(0, comma)) == nerova::http::LIVE_SUBPROTOCOL;
            if (comma == std::string_view::npos) break;
            rest.remove_prefix(comma + 1);
        }
    }
    const std::string tail = ours ? "\r\nSec-WebSocket-Protocol: orva-local-helper\r\n\r\n" : "\r\n\r\n";
    FUZZ_CHECK(answer.size() == START.size() + 28 + tail.size());
    FUZZ_CHECK(answer.compare(START.size() + 28, std::string::npos, tail) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider provider(data, size);
    const std::uint8_t flags = provider.ConsumeIntegral<std::uint8_t>();
    const IoStatus ends[] = {IoStatus::closed, IoStatus::timed_out, IoStatus::failed};
    const IoStatus end = ends[flags % 3];
    std::vector<std::size_t> chunks;
    switch ((flags / 3) % 4) {
        case 0: chunks = {1}; break;
        case 1: chunks = {CAPACITY}; break;
        case 2:
            for (int count = provider.ConsumeIntegralInRange(1, 8); count > 0; --count) {
                chunks.push_back(provider.ConsumeIntegralInRange<std::size_t>(1, CAPACITY));
            }
            break;
        default:
            for (int count = provider.ConsumeIntegralInRange(1, 8); count > 0; --count) {
                chunks.push_back(provider.ConsumeIntegralInRange<std::size_t>(1, 16));
            }
    }
    const std::string bytes = provider.ConsumeRemainingBytesAsString();

    const Outcome cut = read_both_ways(bytes, end, chunks);
    const Outcome whole = read_both_ways(bytes, end, {CAPACITY});
    FUZZ_CHECK(same_request(cut.request, whole.request));
    FUZZ_CHECK(cut.request_consumed == whole.request_consumed);
    FUZZ_CHECK(cut.lines == whole.lines);
    FUZZ_CHECK(cut.lines_consumed == whole.lines_consumed);

    for (const std::string& line : cut.lines) check_line(line);
    if (cut.request) {
        check_request(*cut.request);
        check_handshake(*cut.request);
        // Nothing past the blank line that ends the head is read. That line ends with a line
        // feed, or is a lone carriage return that the end of the stream cuts short.
        const std::size_t consumed = cut.request_consumed;
        FUZZ_CHECK(consumed >= 2);
        FUZZ_CHECK(bytes[consumed - 1] == '\n' ||
                   (consumed == bytes.size() && end == IoStatus::closed && bytes[consumed - 1] == '\r'));
    }
    // Reading stops only at the end of the bytes, so all of them are taken as lines.
    FUZZ_CHECK(cut.lines_consumed == bytes.size());
    return 0;
}
