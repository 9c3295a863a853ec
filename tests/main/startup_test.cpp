#include <gtest/gtest.h>

#include "main/startup.h"
#include "platform/system.h"

using namespace nerova;

TEST(DataPaths, AppdataSetEmptyOrUnset) {
    const DataPaths set = data_paths(std::string("/home/u/.config"), "/tmp");
    EXPECT_EQ(set.data_folder, platform::join_path("/home/u/.config", "NerovaBridge"));
    EXPECT_EQ(set.token_file, platform::join_path(set.data_folder, "token.txt"));
    EXPECT_EQ(set.log_file, platform::join_path(set.data_folder, "popup.log"));

    const DataPaths empty = data_paths(std::string(), "/tmp");
    EXPECT_EQ(empty.data_folder, "NerovaBridge");
    EXPECT_EQ(empty.log_file, platform::join_path("NerovaBridge", "popup.log"));

    const DataPaths unset = data_paths(std::nullopt, "/var/tmp/");
    EXPECT_EQ(unset.data_folder, "/var/tmp/NerovaBridge") << "no doubled separator";
    EXPECT_EQ(unset.log_file, std::nullopt) << "the log has no fallback folder";
}

TEST(BindFailure, LineFramesTheSystemMessage) {
    EXPECT_EQ(bind_failure_line("Address already in use (os error 98)"),
              "[NerovaBridge] 监听 127.0.0.1:17668 失败: Address already in use (os error 98)");
}
