#include <gtest/gtest.h>

#include "http/request.h"

using namespace nerova;
using nerova::http::BufferedReader;

namespace {

// Serves the text in chunks of `chunk` bytes, then end of stream or a failure.
BufferedReader reader_over(std::string text, std::size_t chunk = 7, bool fail_at_end = false) {
    auto position = std::make_shared<std::size_t>(0);
    return BufferedReader([text = std::move(text), chunk, fail_at_end, position](char* buffer, std::size_t size) {
        if (*position >= text.size()) {
            return platform::IoResult{fail_at_end ? platform::IoStatus::timed_out : platform::IoStatus::closed, 0};
        }
        const std::size_t n = std::min({chunk, size, text.size() - *position});
        text.copy(buffer, n, *position);
        *position += n;
        return platform::IoResult{platform::IoStatus::ok, n};
    });
}

std::optional<http::Request> parse(const std::string& text) {
    BufferedReader reader = reader_over(text);
    return http::read_request(reader);
}

}  // namespace

TEST(ReadLine, EndsLinesAtLfAndDropsOneCr) {
    BufferedReader reader = reader_over("a\r\nb\nc\r\r\nlast");
    EXPECT_EQ(http::read_line(reader), "a");
    EXPECT_EQ(http::read_line(reader), "b");
    EXPECT_EQ(http::read_line(reader), "c\r");
    EXPECT_EQ(http::read_line(reader), "last");  // end of stream after some bytes
    EXPECT_EQ(http::read_line(reader), std::nullopt);
}

TEST(ReadLine, FailureDropsAPartialLine) {
    BufferedReader reader = reader_over("partial", 3, true);
    EXPECT_EQ(http::read_line(reader), std::nullopt);
}

TEST(ReadLine, KeepsTheFirst8192BytesAndSkipsToTheLineFeed) {
    BufferedReader reader = reader_over(std::string(10000, 'x') + "\nnext\n", 4096);
    EXPECT_EQ(http::read_line(reader), std::string(8192, 'x'));
    EXPECT_EQ(http::read_line(reader), "next");
}

TEST(ReadLine, ReplacesInvalidUtf8) {
    BufferedReader reader = reader_over("a\xFF\n");
    EXPECT_EQ(http::read_line(reader), "a\xEF\xBF\xBD");
}

TEST(ReadRequest, SplitsTargetIntoPathAndQuery) {
    auto request = parse("GET /status HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(request);
    EXPECT_EQ(request->method, "GET");
    EXPECT_EQ(request->path, "/status");
    EXPECT_EQ(request->query, "");
    EXPECT_TRUE(request->headers.empty());

    request = parse("GET /live?token=abc&x=1 HTTP/1.1\n\n");
    ASSERT_TRUE(request);
    EXPECT_EQ(request->path, "/live");
    EXPECT_EQ(request->query, "token=abc&x=1");

    request = parse("get\t/a?b?c\n\n");  // version missing, tab separator, any case
    ASSERT_TRUE(request);
    EXPECT_EQ(request->method, "get");
    EXPECT_EQ(request->path, "/a");
    EXPECT_EQ(request->query, "b?c");

    request = parse("\xE3\x80\x80GET\xE3\x80\x80/x\xE3\x80\x80HTTP/1.1\n\n");  // ideographic spaces split too
    ASSERT_TRUE(request);
    EXPECT_EQ(request->path, "/x");
}

TEST(ReadRequest, NothingForShortOrUnfinishedRequests) {
    EXPECT_FALSE(parse("GET\r\n\r\n"));
    EXPECT_FALSE(parse("\r\n\r\n"));
    EXPECT_FALSE(parse("   \r\n\r\n"));
    EXPECT_FALSE(parse("GET / HTTP/1.1\r\nHost: x\r\n"));  // stream ends before the empty line
    EXPECT_FALSE(parse(""));
}

TEST(ReadRequest, TrimsHeadersAndSkipsLinesWithoutColon) {
    const auto request = parse("GET / HTTP/1.1\r\nX-Test:  spaced value  \r\nno colon here\r\n A\t:b:c\r\n:\r\n\r\n");
    ASSERT_TRUE(request);
    ASSERT_EQ(request->headers.size(), 3u);
    EXPECT_EQ(request->headers[0], (std::pair<std::string, std::string>{"X-Test", "spaced value"}));
    EXPECT_EQ(request->headers[1], (std::pair<std::string, std::string>{"A", "b:c"}));
    EXPECT_EQ(request->headers[2], (std::pair<std::string, std::string>{"", ""}));
}

TEST(ReadRequest, AcceptsExactly100Headers) {
    std::string head = "GET / HTTP/1.1\r\nno colon does not count\r\n";
    for (int i = 0; i < 100; ++i) head += "H" + std::to_string(i) + ": v\r\n";
    const auto request = parse(head + "\r\n");
    ASSERT_TRUE(request);
    EXPECT_EQ(request->headers.size(), 100u);
    // Once 100 are stored, any further non-empty line ends the request, colon or not.
    EXPECT_FALSE(parse(head + "H100: v\r\n\r\n"));
    EXPECT_FALSE(parse(head + "junk\r\n\r\n"));
}

TEST(ReadRequest, LongRequestLineIsCutButStillParsed) {
    const auto request = parse("GET /" + std::string(9995, 'a') + " HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(request);
    EXPECT_EQ(request->path.size(), 8192u - 4);  // "GET " then the cut target
}

TEST(ReadRequest, LeavesTheBodyUnreadInTheReader) {
    BufferedReader reader = reader_over("POST /x HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello", 1000);
    ASSERT_TRUE(http::read_request(reader));
    EXPECT_EQ(reader.unread(), "hello");
}

TEST(FindHeader, FirstMatchIgnoringAsciiCase) {
    const http::Headers headers{{"upgrade", "websocket"}, {"Upgrade", "other"}};
    EXPECT_EQ(http::find_header(headers, "Upgrade"), "websocket");
    EXPECT_EQ(http::find_header(headers, "Upgrad"), std::nullopt);
}
