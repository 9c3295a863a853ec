#include "main/startup.h"

#include "common/service.h"

namespace nerova {

std::string bind_failure_line(const std::string& os_message) {
    return "[NerovaBridge] 监听 " + listen_address() + " 失败: " + os_message;
}

}  // namespace nerova
