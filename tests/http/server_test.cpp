#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "frames.h"
#include "http/live_channel.h"
#include "http/routes.h"
#include "http/server.h"
#include "loopback.h"
#include "netinfo/network_changes.h"

using namespace nerova;
using namespace std::chrono_literals;

namespace {

const auto TOKEN = std::make_shared<const std::string>("TOKEN");

http::SharedState shared_with(std::shared_ptr<BridgeState> state,
                              std::shared_ptr<const netinfo::StatusSource> status = nullptr) {
    if (!status) status = std::make_shared<const netinfo::StatusSource>(TOKEN, nullptr);
    return {TOKEN, std::move(state), std::move(status)};
}

http::ServerContext context_over(platform::Socket listener) {
    return http::ServerContext{std::move(listener), shared_with(std::make_shared<BridgeState>())};
}

int failed_spawns = 0;
bool failing_spawn(http::Connection, const std::shared_ptr<http::ConnectionHandoff>&) {
    ++failed_spawns;
    return false;
}

int spawns = 0;
bool counting_spawn(http::Connection connection, const std::shared_ptr<http::ConnectionHandoff>& handoff) {
    ++spawns;
    return http::spawn_connection_thread(std::move(connection), handoff);
}

}  // namespace

TEST(Server, FailedThreadCreationClosesThatConnectionAndKeepsAccepting) {
    const http::ServerContext context = context_over(test::listen_any_port());
    platform::Socket first = test::connect_to(context.listener);
    test::send_text(first, "GET /heartbeat HTTP/1.1\r\n\r\n");
    const auto started = std::chrono::steady_clock::now();
    http::serve_one(context, failing_spawn);
    EXPECT_GE(std::chrono::steady_clock::now() - started, 45ms) << "a failure must pause before the next accept";
    EXPECT_EQ(failed_spawns, 1);
    EXPECT_EQ(test::read_to_end(first), "") << "the unserved connection is closed without an answer";

    platform::Socket second = test::connect_to(context.listener);
    test::send_text(second, "GET /nowhere HTTP/1.1\r\n\r\n");
    http::serve_one(context);
    EXPECT_EQ(test::read_to_end(second).substr(0, 24), "HTTP/1.1 404 Not Found\r\n");
}

TEST(Server, AThreadWhoseConnectionEndedServesTheNextOne) {
    const http::ServerContext context = context_over(test::listen_any_port());
    for (int round = 0; round < 3; ++round) {
        platform::Socket client = test::connect_to(context.listener);
        test::send_text(client, "GET /nowhere HTTP/1.1\r\n\r\n");
        http::serve_one(context, counting_spawn);
        EXPECT_EQ(test::read_to_end(client).substr(0, 24), "HTTP/1.1 404 Not Found\r\n");
        std::this_thread::sleep_for(50ms);  // the thread is back, waiting
    }
    EXPECT_EQ(spawns, 1);
    // A thread that waited in vain ends; the next connection gets a new one.
    std::this_thread::sleep_for(http::THREAD_LINGER + 200ms);
    platform::Socket client = test::connect_to(context.listener);
    test::send_text(client, "GET /nowhere HTTP/1.1\r\n\r\n");
    http::serve_one(context, counting_spawn);
    EXPECT_EQ(test::read_to_end(client).substr(0, 24), "HTTP/1.1 404 Not Found\r\n");
    EXPECT_EQ(spawns, 2);
}

TEST(Routes, QueryParamTakesTheFirstExactKeyWithoutDecoding) {
    EXPECT_EQ(http::query_param("token=abc&x=1", "token"), "abc");
    EXPECT_EQ(http::query_param("x=1&token=a=b", "token"), "a=b");
    EXPECT_EQ(http::query_param("token=first&token=second", "token"), "first");
    EXPECT_EQ(http::query_param("token", "token"), "");
    EXPECT_EQ(http::query_param("token=", "token"), "");
    EXPECT_EQ(http::query_param("Token=abc", "token"), std::nullopt);
    EXPECT_EQ(http::query_param("", "token"), std::nullopt);
    EXPECT_EQ(http::query_param("tok%65n=abc&token=a%20b+c", "token"), "a%20b+c");
    EXPECT_EQ(http::query_param("&&token=z&", "token"), "z");
    EXPECT_EQ(http::query_param("tokens=abc&token=real", "token"), "real");  // a longer name is another key
    EXPECT_EQ(http::query_param("tokenx", "token"), std::nullopt);
}

TEST(Routes, HeartbeatBodyIsCompactJson) {
    EXPECT_EQ(http::heartbeat_body(0), "{\"ok\":true,\"ts\":0}");
    EXPECT_EQ(http::heartbeat_body(1796756352), "{\"ok\":true,\"ts\":1796756352}");
}

namespace {

// One connection served by handle_connection on its own thread, as the server would.
struct ServedConnection {
    std::shared_ptr<BridgeState> state = std::make_shared<BridgeState>();
    platform::Socket listener = test::listen_any_port();
    platform::Socket client = test::connect_to(listener);
    std::thread server;

    explicit ServedConnection(std::shared_ptr<const netinfo::StatusSource> status = nullptr) {
        int error = 0;
        auto accepted = listener.accept(error);
        server = std::thread([socket = std::move(*accepted), shared = shared_with(state, status)]() mutable {
            http::handle_connection(std::move(socket), shared);
        });
    }
    ~ServedConnection() {
        client.close();
        if (server.joinable()) server.join();
    }
    void finish() {
        server.join();
    }
    std::string open_channel(const std::string& extra = "") {
        test::send_text(client,
                        "GET /live?token=TOKEN HTTP/1.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                        "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n" +
                        extra);
        std::string head;
        while (head.find("\r\n\r\n") == std::string::npos) {
            const std::string byte = test::read_exactly(client, 1);
            if (byte.empty()) break;
            head += byte;
        }
        return head;
    }
    // The next server frame as (first byte, payload).
    std::pair<int, std::string> next_frame() {
        const std::string header = test::read_exactly(client, 2);
        if (header.size() < 2) return {-1, ""};
        std::size_t length = static_cast<std::uint8_t>(header[1]) & 0x7F;
        if (length == 126) {
            const std::string extended = test::read_exactly(client, 2);
            length = (static_cast<std::uint8_t>(extended[0]) << 8) | static_cast<std::uint8_t>(extended[1]);
        }
        return {static_cast<std::uint8_t>(header[0]), test::read_exactly(client, length)};
    }
};

bool wait_for_count(const BridgeState& state, std::int64_t expected) {
    for (int i = 0; i < 300 && state.live_channel_count.load() != expected; ++i) std::this_thread::sleep_for(10ms);
    return state.live_channel_count.load() == expected;
}

}  // namespace

TEST(LiveChannel, CountsWhileOpenAndGivesTheCountBackOnEveryWayOut) {
    const std::vector<std::pair<const char*, std::string>> endings = {
        {"close frame", test::client_frame(0x8, "")},
        {"unmasked frame", test::client_frame(0x1, "x", false)},
        {"invalid UTF-8", test::text_frame("\xFF")},
        {"peer hang-up", ""},
    };
    for (const auto& [name, ending] : endings) {
        ServedConnection connection;
        const std::string head = connection.open_channel();
        ASSERT_EQ(head.substr(0, 34), "HTTP/1.1 101 Switching Protocols\r\n") << name;
        ASSERT_TRUE(wait_for_count(*connection.state, 1)) << name;
        if (ending.empty()) {
            connection.client.close();
        } else {
            test::send_text(connection.client, ending);
        }
        connection.finish();
        EXPECT_EQ(connection.state->live_channel_count.load(), 0) << name;
        if (!ending.empty()) {
            // Whatever the server still sent, none of it is a Close frame.
            for (auto frame = connection.next_frame(); frame.first != -1; frame = connection.next_frame()) {
                EXPECT_NE(frame.first & 0x0F, 0x8) << name;
            }
        }
    }
}

TEST(LiveChannel, PushesStatusAtOnceAndAnswersPingEvenInTheUpgradePacket) {
    ServedConnection connection;
    // The first frame travels in the same packet as the upgrade request.
    const std::string head = connection.open_channel(test::text_frame(" ping\t"));
    ASSERT_NE(head.find("Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n"), std::string::npos);
    const auto pong = connection.next_frame();
    EXPECT_EQ(pong.first, 0x81);
    EXPECT_EQ(pong.second, "pong");
    const auto status = connection.next_frame();
    EXPECT_EQ(status.first, 0x81);
    EXPECT_EQ(status.second.substr(0, 12), "{\"localIp\":\"");
    EXPECT_NE(status.second.find("\"token\":\"TOKEN\"}"), std::string::npos);

    test::send_text(connection.client, test::text_frame("PING") + test::client_frame(0x2, "ping") +
                                           test::text_frame("ping!") + test::text_frame("ping"));
    const auto only_answer = connection.next_frame();
    EXPECT_EQ(only_answer.second, "pong");
    test::send_text(connection.client, test::client_frame(0x9, "xyz"));
    const auto answer = connection.next_frame();
    EXPECT_EQ(answer.first, 0x8A);
    EXPECT_EQ(answer.second, "xyz");
}

TEST(LiveChannel, AReportedChangeDropsTheOlderCheckUnderWayAndTheChecksGoOn) {
    const auto named = [](const std::string& name) { return netinfo::NetworkSnapshot{{name, {}}, std::nullopt}; };
    auto changes = std::make_shared<netinfo::NetworkChanges>([named] { return named("changed"); }, [] { return true; });
    std::promise<void> release;
    auto checks = std::make_shared<std::atomic<int>>(0);
    ServedConnection connection(std::make_shared<const netinfo::StatusSource>(
        TOKEN, changes, [named, checks, released = release.get_future().share()] {
            const int check = ++*checks;
            if (check == 2) released.wait();  // under way when the change is reported
            std::this_thread::sleep_for(300ms);  // longer than a pass of the channel's loop, as a router lookup is
            return named("check " + std::to_string(check));
        }));
    connection.client.set_receive_timeout(15s);
    connection.open_channel();
    EXPECT_NE(connection.next_frame().second.find("\"check 1\""), std::string::npos);
    for (int i = 0; i < 1000 && *checks < 2; ++i) std::this_thread::sleep_for(10ms);
    changes->notice();
    EXPECT_NE(connection.next_frame().second.find("\"changed\""), std::string::npos);
    release.set_value();
    // The dropped check's older document would undo the change; the next check's comes as ever.
    EXPECT_NE(connection.next_frame().second.find("\"check 3\""), std::string::npos);
}
