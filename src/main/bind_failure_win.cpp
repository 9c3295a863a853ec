// The bind failure where the user sees it: a message box naming the program that holds the port.
#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <tlhelp32.h>

#include <cwchar>
#include <string>
#include <vector>

#include "common/service.h"
#include "common/text.h"
#include "main/startup.h"
#include "platform/handles_win.h"

namespace nerova {
namespace {

std::vector<TcpListener> tcp_listeners() {
    std::vector<TcpListener> listeners;
    std::vector<unsigned char> buffer;
    DWORD size = 0;
    DWORD result = ERROR_INSUFFICIENT_BUFFER;
    // The table may grow between the two calls.
    for (int attempt = 0; attempt < 4 && result == ERROR_INSUFFICIENT_BUFFER; ++attempt) {
        buffer.resize(size);
        result = ::GetExtendedTcpTable(buffer.empty() ? nullptr : buffer.data(), &size, FALSE, AF_INET,
                                       TCP_TABLE_OWNER_PID_LISTENER, 0);
    }
    if (result != NO_ERROR || buffer.size() < sizeof(DWORD)) return listeners;
    const auto* table = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(buffer.data());
    for (DWORD i = 0; i < table->dwNumEntries; ++i) {
        const MIB_TCPROW_OWNER_PID& row = table->table[i];
        listeners.push_back({ntohl(row.dwLocalAddr), ntohs(static_cast<u_short>(row.dwLocalPort)), row.dwOwningPid});
    }
    return listeners;
}

// A snapshot lists every process's file name, another user's too, where opening it would be denied.
std::string program_of(DWORD pid) {
    const platform::FileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) return {};
    std::string name;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ProcessID == pid) {
            name = text::from_wide(entry.szExeFile, std::wcslen(entry.szExeFile));
            break;
        }
    }
    return name;
}

}  // namespace

void show_bind_failure(const std::string& line, bool elevated) {
    const std::optional<std::uint32_t> pid = port_holder(tcp_listeners(), LISTEN_PORT);
    const std::string text = bind_failure_box_text(line, pid, pid ? program_of(*pid) : std::string(), elevated);
    ::MessageBoxW(nullptr, text::to_wide<wchar_t>(text).data(), L"Nerova\u6865",
                  MB_OK | MB_ICONERROR | MB_SETFOREGROUND | MB_TOPMOST);
}

}  // namespace nerova
