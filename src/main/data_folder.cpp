#include "main/startup.h"

#include "common/service.h"
#include "platform/system.h"

namespace nerova {

DataPaths data_paths(const std::optional<std::string>& appdata, const std::string& default_base) {
    DataPaths paths;
    paths.data_folder = data_folder(appdata ? *appdata : default_base);
    paths.token_file = platform::join_path(paths.data_folder, "token.txt");
    return paths;
}

}  // namespace nerova
