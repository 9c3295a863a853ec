// Reading one HTTP request from a connection.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/net.h"

namespace nerova::http {

inline constexpr std::size_t READER_CAPACITY = 8192;
inline constexpr std::size_t MAX_LINE_BYTES = 8192;
inline constexpr std::size_t MAX_HEADERS = 100;

// A reader that asks its source for up to READER_CAPACITY bytes whenever its buffer runs dry.
class BufferedReader {
public:
    using Receive = std::function<platform::IoResult(char* buffer, std::size_t size)>;

    explicit BufferedReader(Receive receive) : receive_(std::move(receive)), buffer_(new char[READER_CAPACITY]) {}
    explicit BufferedReader(platform::Socket& socket)
        : BufferedReader([&socket](char* buffer, std::size_t size) { return socket.receive(buffer, size); }) {}

    enum class Status { byte, end, error };
    Status next(char& byte);

    // Bytes received but not yet read, handed over when the connection changes protocol.
    std::string_view unread() const { return {buffer_.get() + position_, filled_ - position_}; }

    // The bytes not yet read, or when there are none the next ones the source gives (one receive
    // of at most READER_CAPACITY), all counted as read. `ok` when `bytes` holds some.
    platform::IoStatus read_some(std::string_view& bytes);

private:
    // Receives when everything received has been read; `ok` when bytes wait to be read.
    platform::IoStatus fill();

    Receive receive_;
    // Not zero-filled: a live channel keeps the reader, and only pages that data reaches cost memory.
    std::unique_ptr<char[]> buffer_;
    std::size_t position_ = 0;
    std::size_t filled_ = 0;
};

// One line without its LF and at most one trailing CR, cut to MAX_LINE_BYTES, as the bytes that
// came; nothing on a read failure, or at end of stream with nothing read.
std::optional<std::string> read_raw_line(BufferedReader& reader);

// The same line as UTF-8, invalid sequences replaced.
std::optional<std::string> read_line(BufferedReader& reader);

using Headers = std::vector<std::pair<std::string, std::string>>;

// Every field holds the bytes that came, not their decoding: a head of invalid bytes then costs
// no more than its size. Their text is text::utf8_lossy of them; since a replacement character
// never equals ASCII, comparing a field with ASCII text gives the same answer either way, and the
// white space that splits and trims them is found as it would be in the decoded text.
struct Request {
    std::string method;
    std::string path;
    std::string query;
    Headers headers;
};

// The request line and header block; nothing when the connection should end without an answer.
std::optional<Request> read_request(BufferedReader& reader);

// Value of the first header whose name matches ignoring ASCII case.
std::optional<std::string_view> find_header(const Headers& headers, std::string_view name);

}  // namespace nerova::http
