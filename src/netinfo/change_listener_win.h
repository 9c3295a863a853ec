// Windows: the IP Helper calls the change listener registers with, so tests can stand in for them.
#pragma once

#include <winsock2.h>
#include <ws2ipdef.h>
#include <iphlpapi.h>
#include <netioapi.h>

#include <functional>
#include <memory>

#include "netinfo/change_listener.h"

namespace nerova::netinfo {

struct IpHelperNotifications {
    DWORD(WINAPI* notify_interface)(ADDRESS_FAMILY, PIPINTERFACE_CHANGE_CALLBACK, PVOID, BOOLEAN, HANDLE*);
    DWORD(WINAPI* notify_address)(ADDRESS_FAMILY, PUNICAST_IPADDRESS_CHANGE_CALLBACK, PVOID, BOOLEAN, HANDLE*);
    DWORD(WINAPI* notify_route)(ADDRESS_FAMILY, PIPFORWARD_CHANGE_CALLBACK, PVOID, BOOLEAN, HANDLE*);
    DWORD(WINAPI* cancel)(HANDLE);
};

IpHelperNotifications system_notifications();

// Registers for IPv4 interface, unicast address and route changes, without an initial notice;
// keeps whichever registrations succeed, nothing when none does. Destroying the listener cancels
// them, which waits for a callback under way: never destroy it on a callback's thread.
std::unique_ptr<ChangeListener> start_change_listener_with(const IpHelperNotifications& api,
                                                           std::function<void()> on_change);

}  // namespace nerova::netinfo
