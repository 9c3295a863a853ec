#include "main/startup.h"

#include "platform/system.h"

namespace nerova {

DataPaths data_paths(const std::optional<std::string>& appdata, const std::string& default_base) {
    const std::string base = appdata ? *appdata : default_base;
    DataPaths paths;
    paths.data_folder = platform::join_path(base, "NerovaBridge");
    paths.token_file = platform::join_path(paths.data_folder, "token.txt");
    return paths;
}

std::string bind_failure_line(const std::string& os_message) {
    return std::string("[NerovaBridge] 监听 ") + LISTEN_HOST + ":" + std::to_string(LISTEN_PORT) + " 失败: " + os_message;
}

}  // namespace nerova
