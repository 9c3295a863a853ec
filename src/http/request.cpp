#include "http/request.h"

#include "common/text.h"

namespace nerova::http {

platform::IoStatus BufferedReader::fill() {
    if (position_ < filled_) return platform::IoStatus::ok;
    const platform::IoResult got = receive_(buffer_.get(), READER_CAPACITY);
    if (got.status != platform::IoStatus::ok) return got.status;
    if (got.bytes == 0) return platform::IoStatus::failed;
    position_ = 0;
    filled_ = got.bytes;
    return platform::IoStatus::ok;
}

BufferedReader::Status BufferedReader::next(char& byte) {
    const platform::IoStatus got = fill();
    if (got == platform::IoStatus::closed) return Status::end;
    if (got != platform::IoStatus::ok) return Status::error;
    byte = buffer_[position_++];
    return Status::byte;
}

platform::IoStatus BufferedReader::read_some(std::string_view& bytes) {
    const platform::IoStatus got = fill();
    if (got != platform::IoStatus::ok) return got;
    bytes = unread();
    position_ = filled_;
    return platform::IoStatus::ok;
}

std::optional<std::string> read_raw_line(BufferedReader& reader) {
    std::string line;
    for (;;) {
        char byte = 0;
        const BufferedReader::Status status = reader.next(byte);
        if (status == BufferedReader::Status::error) return std::nullopt;
        if (status == BufferedReader::Status::end) {
            if (line.empty()) return std::nullopt;
            break;
        }
        if (byte == '\n') break;
        if (line.size() < MAX_LINE_BYTES) line.push_back(byte);
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

std::optional<std::string> read_line(BufferedReader& reader) {
    std::optional<std::string> line = read_raw_line(reader);
    if (!line) return std::nullopt;
    return text::utf8_lossy(*line);
}

std::optional<Request> read_request(BufferedReader& reader) {
    const std::optional<std::string> request_line = read_raw_line(reader);
    if (!request_line) return std::nullopt;
    const std::vector<std::string_view> fields = text::split_whitespace(*request_line);
    if (fields.size() < 2) return std::nullopt;

    Request request;
    request.method = std::string(fields[0]);
    const std::string_view target = fields[1];
    const std::size_t question = target.find('?');
    request.path = std::string(target.substr(0, question));
    if (question != std::string_view::npos) request.query = std::string(target.substr(question + 1));

    for (;;) {
        const std::optional<std::string> line = read_raw_line(reader);
        if (!line) return std::nullopt;
        if (line->empty()) break;
        if (request.headers.size() >= MAX_HEADERS) return std::nullopt;
        const std::size_t colon = line->find(':');
        if (colon == std::string::npos) continue;
        const std::string_view whole = *line;
        request.headers.emplace_back(std::string(text::trim(whole.substr(0, colon))),
                                     std::string(text::trim(whole.substr(colon + 1))));
    }
    return request;
}

std::optional<std::string_view> find_header(const Headers& headers, std::string_view name) {
    for (const auto& [header_name, value] : headers) {
        if (text::ascii_iequals(header_name, name)) return std::string_view(value);
    }
    return std::nullopt;
}

}  // namespace nerova::http
