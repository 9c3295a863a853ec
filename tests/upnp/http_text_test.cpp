#include <gtest/gtest.h>

#include "upnp/http_client.h"
#include "upnp/http_url.h"

namespace nerova::upnp {
namespace {

TEST(ParseHttpUrl, SplitsHostPortAndPath) {
    const auto plain = parse_http_url("http://10.0.0.1");
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->host, "10.0.0.1");
    EXPECT_EQ(plain->port, 80);
    EXPECT_EQ(plain->path, "/");

    const auto full = parse_http_url("http://10.0.0.1:8080/a?b=c");
    ASSERT_TRUE(full);
    EXPECT_EQ(full->host, "10.0.0.1");
    EXPECT_EQ(full->port, 8080);
    EXPECT_EQ(full->path, "/a?b=c");

    const auto odd = parse_http_url("http://router.lan:+0065535/x:y/z");
    ASSERT_TRUE(odd);
    EXPECT_EQ(odd->host, "router.lan");
    EXPECT_EQ(odd->port, 65535);
    EXPECT_EQ(odd->path, "/x:y/z");

    EXPECT_EQ(parse_http_url("http://h:0")->port, 0);
}

TEST(ParseHttpUrl, RefusesWhatItDoesNotSpeak) {
    for (const char* url : {"HTTP://10.0.0.1/", "https://10.0.0.1/", "ftp://10.0.0.1/", "http:/10.0.0.1/", "",
                            "http://", "http://:80/x", "http:///x", "http://10.0.0.1:99999/", "http://10.0.0.1:65536/",
                            "http://10.0.0.1:/", "http://10.0.0.1:+/", "http://10.0.0.1:++1/", "http://10.0.0.1:-1/",
                            "http://10.0.0.1:8o/", "http://10.0.0.1: 80/", "http://[::1]:80/", "http://::1/"}) {
        EXPECT_FALSE(parse_http_url(url)) << url;
    }
}

TEST(HttpRequestBytes, GetCarriesHostWithoutPortAndNoLength) {
    EXPECT_EQ(build_http_request(*parse_http_url("http://192.168.1.1:1900/rootDesc.xml"), "GET", {}, ""),
              "GET /rootDesc.xml HTTP/1.1\r\nHost: 192.168.1.1\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(build_http_request(*parse_http_url("http://10.0.0.1"), "POST", {{"X-A", "1"}}, ""),
              "POST / HTTP/1.1\r\nHost: 10.0.0.1\r\nConnection: close\r\nX-A: 1\r\n\r\n");
}

TEST(HttpResponseBody, IsEverythingAfterTheFirstBlankLine) {
    EXPECT_EQ(response_body("HTTP/1.1 500 Internal Server Error\r\nContent-Length: 5\r\n\r\noops!\r\n\r\nmore"),
              "oops!\r\n\r\nmore");
    EXPECT_EQ(response_body("HTTP/1.1 200 OK\r\n\r\n"), "");
    EXPECT_EQ(response_body("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n4\r\nbody\r\n0\r\n\r\n"),
              "4\r\nbody\r\n0\r\n\r\n");
    EXPECT_EQ(response_body("HTTP/1.1 200 OK\r\n\r\n\xFF<a>\xE4\xBB"), "\xFF<a>\xE4\xBB") << "kept raw";
    EXPECT_FALSE(response_body("HTTP/1.1 200 OK\r\nServer: x\r\n"));
    EXPECT_FALSE(response_body("HTTP/1.1 200 OK\n\nbody"));
    EXPECT_FALSE(response_body(""));
}

}  // namespace
}  // namespace nerova::upnp
