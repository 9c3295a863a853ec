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

TEST(BindFailureBox, NamesTheListenerOnTheLoopbackPortOrOnEveryAddress) {
    const std::uint32_t loopback = 0x7F000001;
    const std::vector<TcpListener> table = {
        {0, 17667, 10}, {loopback, 17669, 11}, {0, 17668, 12}, {loopback, 17668, 13}, {0x0A000001, 17668, 14}};
    EXPECT_EQ(port_holder(table, 17668), 13u);
    EXPECT_EQ(port_holder({{0, 17668, 12}, {0x0A000001, 17668, 14}}, 17668), 12u);
    EXPECT_EQ(port_holder({{0x0A000001, 17668, 14}, {loopback, 17669, 11}}, 17668), std::nullopt);
    EXPECT_EQ(port_holder({}, 17668), std::nullopt);
    EXPECT_EQ(port_holder({{loopback, 17668, 0}}, 17668), std::nullopt);
}

TEST(BindFailureBox, KeepsTheLineAndSaysWhoHoldsThePort) {
    const std::string line = "[NerovaBridge] 监听 127.0.0.1:17668 失败: in use (os error 10048)";
    EXPECT_EQ(bind_failure_box_text(line, std::nullopt, "", false), line);
    EXPECT_EQ(bind_failure_box_text(line, 4242, "python.exe", false), line + "\n\n占用端口的程序: python.exe（进程 4242）");
    EXPECT_EQ(bind_failure_box_text(line, 7, "", false), line + "\n\n占用端口的是进程 7。");
    // Our own program, in no window of this session: another user's copy.
    EXPECT_EQ(bind_failure_box_text(line, 99, "NEROVABRIDGE.EXE", false),
              line + "\n\n端口已被另一个 Nerova桥 占用（进程 99），它属于同时登录的另一位用户。");
    // Ours in this session, running as administrator: Windows kept this start's request from it.
    EXPECT_EQ(bind_failure_box_text(line, 99, "NerovaBridge.exe", true), line + "\n\n端口已被以管理员身份运行的 Nerova桥 "
              "占用（进程 99），本次启动无法打开它的状态卡片：请点击通知区域中它的图标。");
}
