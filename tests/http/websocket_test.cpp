#include <gtest/gtest.h>

#include "frames.h"
#include "http/live_channel.h"
#include "http/websocket.h"

using namespace nerova;
using nerova::test::client_frame;
using nerova::test::text_frame;

TEST(Handshake, SampleKeyGivesTheKnownAcceptValueAndNothingElse) {
    EXPECT_EQ(http::websocket_accept("dGhlIHNhbXBsZSBub25jZQ=="), "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
    EXPECT_EQ(http::handshake_answer("dGhlIHNhbXBsZSBub25jZQ==", std::nullopt),
              "HTTP/1.1 101 Switching Protocols\r\n"
              "Upgrade: websocket\r\n"
              "Connection: Upgrade\r\n"
              "Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n"
              "\r\n");
    EXPECT_EQ(http::websocket_accept("").size(), 28u);
    // The request keeps raw bytes; the key is hashed as its text, invalid bytes replaced.
    EXPECT_NE(http::handshake_answer("k\xFF", std::nullopt).find(http::websocket_accept("k\xEF\xBF\xBD")),
              std::string::npos);
}

TEST(Handshake, NamesTheSubprotocolOnlyForAnExactTrimmedPiece) {
    const auto has_protocol = [](std::string_view header) {
        return http::handshake_answer("k", header).find("Sec-WebSocket-Protocol: orva-local-helper\r\n\r\n") !=
               std::string::npos;
    };
    EXPECT_TRUE(has_protocol("other, orva-local-helper"));
    EXPECT_TRUE(has_protocol("orva-local-helper"));
    EXPECT_TRUE(has_protocol(" a ,\torva-local-helper\t, b"));
    EXPECT_FALSE(has_protocol("other, chat"));
    EXPECT_FALSE(has_protocol("ORVA-LOCAL-HELPER"));
    EXPECT_FALSE(has_protocol("orva-local-helper2"));
    EXPECT_FALSE(has_protocol(""));
}

namespace {

struct Recorded {
    std::string sent;
    bool fail_writes = false;
    http::WebSocketSession session{[this](std::string_view bytes) {
        if (fail_writes) return false;
        sent.append(bytes);
        return true;
    }};

    bool feed(const std::string& bytes, std::vector<http::WebSocketMessage>& messages) {
        return session.feed(bytes.data(), bytes.size(), messages);
    }
};

}  // namespace

TEST(WebSocketSession, DeliversTextAndBinaryMessagesIncludingFragmented) {
    Recorded peer;
    std::vector<http::WebSocketMessage> messages;
    const std::string fragmented = client_frame(0x1, "pi", true, false) + client_frame(0x0, "ng", true, true);
    ASSERT_TRUE(peer.feed(text_frame(" ping\n") + client_frame(0x2, "ping") + fragmented, messages));
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_TRUE(messages[0].text);
    EXPECT_EQ(messages[0].payload, " ping\n");
    EXPECT_FALSE(messages[1].text);
    EXPECT_EQ(messages[2].payload, "ping");
    EXPECT_TRUE(peer.sent.empty()) << "the stand-in handshake reply must never reach the peer";
}

TEST(WebSocketSession, FramesSplitAcrossReadsAreReassembled) {
    Recorded peer;
    std::vector<http::WebSocketMessage> messages;
    const std::string frame = text_frame("hello");
    for (char byte : frame) ASSERT_TRUE(peer.feed(std::string(1, byte), messages));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].payload, "hello");
}

TEST(WebSocketSession, AnswersPingWithPongCarryingThePayload) {
    Recorded peer;
    std::vector<http::WebSocketMessage> messages;
    ASSERT_TRUE(peer.feed(client_frame(0x9, "abc"), messages));
    EXPECT_EQ(peer.sent, std::string("\x8A\x03" "abc"));
    EXPECT_TRUE(messages.empty());
}

TEST(WebSocketSession, SendsUnmaskedTextAndEmptyPings) {
    Recorded peer;
    ASSERT_TRUE(peer.session.send_text("pong"));
    ASSERT_TRUE(peer.session.send_ping());
    EXPECT_EQ(peer.sent, std::string("\x81\x04pong\x89\x00", 8));
}

TEST(WebSocketSession, CloseEndsTheChannelWithoutAnyCloseFrameBack) {
    Recorded peer;
    std::vector<http::WebSocketMessage> messages;
    EXPECT_FALSE(peer.feed(text_frame("ping") + client_frame(0x8, "\x03\xE8"), messages));
    EXPECT_EQ(messages.size(), 1u) << "a message before the Close is still delivered";
    EXPECT_TRUE(peer.sent.empty());
    EXPECT_FALSE(peer.session.send_text("late"));
}

TEST(WebSocketSession, ProtocolFaultsEndTheChannelSilently) {
    const std::vector<std::pair<const char*, std::string>> faults = {
        {"unmasked frame", client_frame(0x1, "hi", false)},
        {"invalid UTF-8 text", text_frame("\xC3\x28")},
        {"fragmented control frame", client_frame(0x9, "x", true, false)},
        {"reserved opcode", client_frame(0x3, "x")},
        {"continuation without start", client_frame(0x0, "x")},
        {"fragmented text cut mid-character", client_frame(0x1, "a\xC3", true, false) + client_frame(0x0, "", true, true)},
        // The channel ended with the message: a Ping read with it is not answered.
        {"a Ping after text cut mid-character",
         client_frame(0x1, "a\xC3", true, false) + client_frame(0x0, "", true, true) + client_frame(0x9, "p")},
    };
    for (const auto& [name, bytes] : faults) {
        Recorded peer;
        std::vector<http::WebSocketMessage> messages;
        EXPECT_FALSE(peer.feed(bytes, messages)) << name;
        EXPECT_TRUE(messages.empty()) << name;
        EXPECT_TRUE(peer.sent.empty()) << name << ": no Close frame may be sent";
    }
}

TEST(WebSocketSession, MessageOverTheLimitEndsTheChannel) {
    Recorded peer;
    std::vector<http::WebSocketMessage> messages;
    // Only the header is needed: the declared length alone is over the limit.
    const std::string header = client_frame(0x2, "").substr(0, 1) + std::string("\xFF", 1) +
                               std::string("\x00\x00\x00\x00\x04\x00\x00\x01", 8) + "mask";
    EXPECT_FALSE(peer.feed(header, messages));
    EXPECT_TRUE(peer.sent.empty());
}

TEST(WebSocketSession, FrameOverSixteenMebibytesEndsTheChannelEvenSplitAcrossReads) {
    Recorded peer;
    std::vector<http::WebSocketMessage> messages;
    // A Ping before the oversized header is still answered; the header itself ends the channel.
    const std::string header = std::string("\x82\xFF", 2) + std::string("\x00\x00\x00\x00\x01\x00\x00\x01", 8) + "mask";
    ASSERT_TRUE(peer.feed(client_frame(0x9, "p") + header.substr(0, 5), messages));
    EXPECT_FALSE(peer.feed(header.substr(5), messages));
    EXPECT_EQ(peer.sent, std::string("\x8A\x01p", 3));
}

TEST(WebSocketSession, FrameOfExactlySixteenMebibytesIsAccepted) {
    Recorded peer;
    std::vector<http::WebSocketMessage> messages;
    const std::string payload(16u * 1024 * 1024, 'x');
    const std::string frame = client_frame(0x2, payload);
    for (std::size_t pos = 0; pos < frame.size(); pos += 65536) {
        ASSERT_TRUE(peer.feed(frame.substr(pos, 65536), messages));
    }
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].payload.size(), payload.size());
}

TEST(WebSocketSession, FailedWriteEndsTheChannel) {
    Recorded peer;
    peer.fail_writes = true;
    EXPECT_FALSE(peer.session.send_text("pong"));
    std::vector<http::WebSocketMessage> messages;
    EXPECT_FALSE(peer.feed(text_frame("x"), messages));
}
