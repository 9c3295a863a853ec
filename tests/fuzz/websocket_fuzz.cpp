// The WebSocket session fed whatever a page might send, in chunks of any size, between sends of
// our own. It must not crash or leak, every write must be whole, unmasked frames that are never a
// Close, and once the channel is over nothing more may be written.
#include "frames.h"
#include "fuzz_support.h"
#include "http/websocket.h"

namespace {

using nerova::http::WebSocketMessage;
using nerova::http::WebSocketSession;

constexpr std::uint8_t TEXT = 0x1, PING = 0x9, PONG = 0xA;

struct Frame {
    std::uint8_t opcode;
    std::string payload;
};

// Every write holds whole frames only: the session drops Close frames by reading each write.
std::vector<Frame> server_frames(std::string_view bytes) {
    std::vector<Frame> frames;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        FUZZ_CHECK(bytes.size() - pos >= 2);
        const auto first = static_cast<std::uint8_t>(bytes[pos]);
        const auto second = static_cast<std::uint8_t>(bytes[pos + 1]);
        FUZZ_CHECK(first & 0x80);                 // FIN: nothing is fragmented
        FUZZ_CHECK((first & 0x70) == 0);          // no extension bits
        FUZZ_CHECK((second & 0x80) == 0);         // a server never masks
        const std::uint8_t opcode = first & 0x0F;
        FUZZ_CHECK(opcode == TEXT || opcode == PING || opcode == PONG);
        std::size_t header = 2;
        std::uint64_t length = second & 0x7F;
        if (length >= 126) {
            const std::size_t extra = length == 126 ? 2 : 8;
            FUZZ_CHECK(bytes.size() - pos >= 2 + extra);
            length = 0;
            for (std::size_t i = 0; i < extra; ++i) length = (length << 8) | static_cast<std::uint8_t>(bytes[pos + 2 + i]);
            FUZZ_CHECK(length >= (extra == 2 ? 126u : 65536u));  // shortest length form
            header += extra;
        }
        if (opcode != TEXT) FUZZ_CHECK(length <= 125);
        FUZZ_CHECK(bytes.size() - pos - header >= length);
        frames.push_back({opcode, std::string(bytes.substr(pos + header, length))});
        pos += header + length;
    }
    return frames;
}

struct Peer {
    std::vector<Frame> frames;
    bool failing = false;
    bool over = false;
    std::vector<WebSocketMessage> messages;
    WebSocketSession session{[this](std::string_view bytes) {
        FUZZ_CHECK(!over);
        if (failing) return false;
        for (Frame& frame : server_frames(bytes)) frames.push_back(std::move(frame));
        return true;
    }};

    void feed(const std::string& bytes) {
        std::vector<WebSocketMessage> got;
        const bool open = session.feed(bytes.data(), bytes.size(), got);
        FUZZ_CHECK(!(over && !got.empty()));
        for (WebSocketMessage& message : got) {
            FUZZ_CHECK(message.payload.size() <= nerova::http::LIVE_MESSAGE_LIMIT);
            if (message.text) FUZZ_CHECK(fuzz::valid_utf8(message.payload));
            messages.push_back(std::move(message));
        }
        if (!open) over = true;
    }

    std::vector<std::string> pongs() const {
        std::vector<std::string> payloads;
        for (const Frame& frame : frames) {
            if (frame.opcode == PONG) payloads.push_back(frame.payload);
        }
        return payloads;
    }
};

// A client frame from the input: any header bits, a short payload, masked or not.
std::string client_frame(FuzzedDataProvider& provider) {
    const std::uint8_t first = provider.ConsumeIntegral<std::uint8_t>();
    const bool masked = provider.ConsumeIntegralInRange(0, 7) != 0;
    const std::string payload = provider.ConsumeRandomLengthString(300);
    char key[4] = {};
    if (masked) {
        for (char& k : key) k = static_cast<char>(provider.ConsumeIntegral<std::uint8_t>());
    }
    return nerova::test::frame(first, payload, masked ? key : nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider provider(data, size);
    Peer chunked;
    std::string all_fed;
    std::vector<std::string> texts_sent;
    std::size_t pings_sent = 0;
    bool ever_failing = false;

    while (provider.remaining_bytes() > 0) {
        std::string bytes;
        switch (provider.ConsumeIntegralInRange(0, 9)) {
            case 0: case 1: case 2: case 3:
                bytes = provider.ConsumeBytesAsString(provider.ConsumeIntegralInRange<std::size_t>(1, 1024));
                break;
            case 4: case 5: case 6:
                bytes = client_frame(provider);
                break;
            case 7: {
                const std::string text = provider.ConsumeRandomLengthString(200);
                if (chunked.session.send_text(text)) texts_sent.push_back(text);
                continue;
            }
            case 8:
                if (chunked.session.send_ping()) ++pings_sent;
                continue;
            default:
                chunked.failing = ever_failing = true;
                continue;
        }
        all_fed += bytes;
        if (!chunked.over) chunked.feed(bytes);
    }

    // A send that reported success put exactly its frame on the wire, in order.
    std::vector<std::string> texts_seen;
    std::size_t pings_seen = 0;
    for (const Frame& frame : chunked.frames) {
        if (frame.opcode == TEXT) texts_seen.push_back(frame.payload);
        if (frame.opcode == PING) {
            FUZZ_CHECK(frame.payload.empty());
            ++pings_seen;
        }
    }
    FUZZ_CHECK(texts_seen == texts_sent);
    FUZZ_CHECK(pings_seen == pings_sent);
    if (chunked.over) {
        FUZZ_CHECK(!chunked.session.send_text("late"));
        FUZZ_CHECK(!chunked.session.send_ping());
    }

    // How the bytes were cut changes nothing a page can see.
    if (!ever_failing) {
        Peer whole;
        whole.feed(all_fed);
        FUZZ_CHECK(whole.over == chunked.over);
        FUZZ_CHECK(whole.messages.size() == chunked.messages.size());
        for (std::size_t i = 0; i < whole.messages.size(); ++i) {
            FUZZ_CHECK(whole.messages[i].text == chunked.messages[i].text);
            FUZZ_CHECK(whole.messages[i].payload == chunked.messages[i].payload);
        }
        FUZZ_CHECK(whole.pongs() == chunked.pongs());
    }
    return 0;
}
