#include "main/startup.h"

#include "common/service.h"
#include "platform/system.h"

namespace nerova {

DataPaths data_paths(const std::optional<std::string>& appdata, const std::string& default_base) {
    DataPaths paths;
    paths.data_folder = platform::join_path(appdata ? *appdata : default_base, std::string(DATA_FOLDER_NAME));
    paths.token_file = platform::join_path(paths.data_folder, "token.txt");
    // Unlike the token, the log has no fallback folder.
    if (appdata) paths.log_file = platform::join_path(paths.data_folder, "popup.log");
    return paths;
}

}  // namespace nerova
