// The life of one accepted connection: read one request, pick the answer, send it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "http/shared_state.h"
#include "platform/net.h"

namespace nerova::http {

void handle_connection(platform::Socket socket, const SharedState& shared);

// Value of the first "&"-separated piece whose key (up to the first "=") is exactly `key`;
// no decoding of any kind.
std::optional<std::string_view> query_param(std::string_view query, std::string_view key);

std::string heartbeat_body(std::uint64_t unix_seconds);

}  // namespace nerova::http
