#include "common/service.h"

#include "platform/system.h"

namespace nerova {

std::string listen_address() { return std::string(LISTEN_HOST) + ":" + std::to_string(LISTEN_PORT); }

std::string service_url(std::string_view path) { return "http://" + listen_address() + std::string(path); }

std::string data_folder(const std::string& base) { return platform::join_path(base, std::string(DATA_FOLDER_NAME)); }

}  // namespace nerova
