#include "common/service.h"

namespace nerova {

std::string listen_address() { return std::string(LISTEN_HOST) + ":" + std::to_string(LISTEN_PORT); }

std::string service_url(std::string_view path) { return "http://" + listen_address() + std::string(path); }

}  // namespace nerova
