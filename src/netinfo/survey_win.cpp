#include "netinfo/survey.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "netinfo/adapter_list_win.h"
#include "netinfo/adapter_query.h"
#include "common/text.h"

namespace nerova::netinfo {
namespace {

constexpr DWORD COMPUTER_NAME_UNITS = 256;

std::string from_wide(const wchar_t* text) {
    return text == nullptr ? std::string() : text::from_wide(text, std::wcslen(text));
}

AddressEntry entry_from(const SOCKET_ADDRESS& address) {
    const sockaddr* sa = address.lpSockaddr;
    if (sa == nullptr) return std::nullopt;
    platform::SocketAddress out;
    if (sa->sa_family == AF_INET && address.iSockaddrLength >= static_cast<INT>(sizeof(sockaddr_in))) {
        const auto* in = reinterpret_cast<const sockaddr_in*>(sa);
        out.family = platform::Family::ipv4;
        std::memcpy(out.bytes.data(), &in->sin_addr, 4);
        return out;
    }
    if (sa->sa_family == AF_INET6 && address.iSockaddrLength >= static_cast<INT>(sizeof(sockaddr_in6))) {
        const auto* in6 = reinterpret_cast<const sockaddr_in6*>(sa);
        out.family = platform::Family::ipv6;
        std::memcpy(out.bytes.data(), &in6->sin6_addr, 16);
        return out;
    }
    return std::nullopt;
}

template <typename Node>
std::vector<AddressEntry> entries_from(const Node* first) {
    std::vector<AddressEntry> entries;
    for (const Node* node = first; node != nullptr; node = node->Next) entries.push_back(entry_from(node->Address));
    return entries;
}

std::string computer_name() {
    wchar_t name[COMPUTER_NAME_UNITS] = {};
    DWORD size = COMPUTER_NAME_UNITS;
    if (!::GetComputerNameW(name, &size) || size == 0) return {};
    return text::from_wide(name, std::min<DWORD>(size, COMPUTER_NAME_UNITS));
}

}  // namespace

std::vector<AdapterRecord> adapters_from_list(const IP_ADAPTER_ADDRESSES* first) {
    std::vector<AdapterRecord> adapters;
    for (const IP_ADAPTER_ADDRESSES* node = first; node != nullptr; node = node->Next) {
        AdapterRecord adapter;
        adapter.friendly_name = from_wide(node->FriendlyName);
        adapter.description = from_wide(node->Description);
        adapter.oper_status = static_cast<std::uint32_t>(node->OperStatus);
        adapter.if_type = node->IfType;
        adapter.flags = node->Flags;
        adapter.hardware_address_length = node->PhysicalAddressLength;
        std::memcpy(adapter.hardware_address.data(), node->PhysicalAddress,
                    std::min<std::size_t>(node->PhysicalAddressLength, MAX_HARDWARE_ADDRESS_LENGTH));
        adapter.unicast_addresses = entries_from(node->FirstUnicastAddress);
        adapter.gateway_addresses = entries_from(node->FirstGatewayAddress);
        adapter.dns_server_addresses = entries_from(node->FirstDnsServerAddress);
        adapters.push_back(std::move(adapter));
    }
    return adapters;
}

Survey survey_adapters() {
    Survey survey;
    survey.computer_name = computer_name();
    // The buffer lives only inside this function, so it is gone before the router lookup starts.
    const std::optional<AdapterBuffer> list = query_adapter_list([](void* buffer, std::uint32_t* size) {
        ULONG bytes = *size;
        const ULONG result = ::GetAdaptersAddresses(AF_UNSPEC, GAA_FLAG_INCLUDE_GATEWAYS, nullptr,
                                                    static_cast<IP_ADAPTER_ADDRESSES*>(buffer), &bytes);
        *size = bytes;
        return static_cast<std::uint32_t>(result);
    });
    if (list) survey.adapters = adapters_from_list(static_cast<const IP_ADAPTER_ADDRESSES*>(list->data()));
    return survey;
}

}  // namespace nerova::netinfo
