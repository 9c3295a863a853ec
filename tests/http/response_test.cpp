#include <gtest/gtest.h>

#include "http/response.h"

using namespace nerova::http;

TEST(BuildResponse, NotFoundAnswerIsByteExact) {
    const std::string bytes =
        build_response(Response{404, "Not Found", TEXT_CONTENT_TYPE, NO_STORE, "404 page not found\n"});
    EXPECT_EQ(bytes,
              "HTTP/1.1 404 Not Found\r\n"
              "Access-Control-Allow-Origin: *\r\n"
              "Access-Control-Allow-Private-Network: true\r\n"
              "Content-Type: text/plain; charset=utf-8\r\n"
              "Cache-Control: no-store\r\n"
              "Content-Length: 19\r\n"
              "Connection: close\r\n"
              "\r\n"
              "404 page not found\n");
}

TEST(BuildResponse, BinaryBodyKeepsItsBytesAndLength) {
    const std::string body("\x89PNG\0\r\n", 7);
    const std::string bytes = build_response(Response{200, "OK", PNG_CONTENT_TYPE, LONG_CACHE, body});
    EXPECT_NE(bytes.find("Cache-Control: public, max-age=86400\r\n"), std::string::npos);
    EXPECT_NE(bytes.find("Content-Length: 7\r\n"), std::string::npos);
    EXPECT_EQ(bytes.substr(bytes.size() - 7), body);
}

TEST(Preflight, HasNoContentHeaders) {
    EXPECT_EQ(PREFLIGHT_ANSWER.find("Content-Type"), std::string_view::npos);
    EXPECT_EQ(PREFLIGHT_ANSWER.find("Cache-Control"), std::string_view::npos);
    EXPECT_EQ(PREFLIGHT_ANSWER.substr(0, 25), "HTTP/1.1 204 No Content\r\n");
}
