#include "main/startup.h"

#include "common/service.h"
#include "common/text.h"

namespace nerova {

std::string bind_failure_line(const std::string& os_message) {
    return "[NerovaBridge] 监听 " + listen_address() + " 失败: " + os_message;
}

std::optional<std::uint32_t> port_holder(const std::vector<TcpListener>& listeners, std::uint16_t port) {
    constexpr std::uint32_t LOOPBACK = 0x7F000001;
    std::optional<std::uint32_t> any_address;
    for (const TcpListener& listener : listeners) {
        // Pid 0 is no program: the system's table has it for sockets it cannot attribute.
        if (listener.port != port || listener.pid == 0) continue;
        if (listener.address == LOOPBACK) return listener.pid;
        if (listener.address == 0 && !any_address) any_address = listener.pid;
    }
    return any_address;
}

std::string bind_failure_box_text(const std::string& line, std::optional<std::uint32_t> pid,
                                  const std::string& program, bool elevated) {
    if (elevated) {
        const std::string process = pid ? "（进程 " + std::to_string(*pid) + "）" : "";
        return line + "\n\n端口已被以管理员身份运行的 Nerova桥 占用" + process +
               "，本次启动无法打开它的状态卡片：请点击通知区域中它的图标。";
    }
    if (!pid) return line;
    const std::string process = "进程 " + std::to_string(*pid);
    // No copy of ours answered in this session, so this one runs in another (loopback is shared).
    if (text::ascii_iequals(program, "NerovaBridge.exe")) {
        return line + "\n\n端口已被另一个 Nerova桥 占用（" + process + "），它属于同时登录的另一位用户。";
    }
    if (program.empty()) return line + "\n\n占用端口的是" + process + "。";
    return line + "\n\n占用端口的程序: " + program + "（" + process + "）";
}

}  // namespace nerova
