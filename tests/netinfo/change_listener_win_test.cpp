// The change listener's registrations and callbacks over a stand-in for IP Helper that keeps its
// documented rules: AF_INET, AF_INET6 or AF_UNSPEC only; a null handle on failure; callbacks on a
// thread of the system's, one at a time per registration; CancelMibChangeNotify2 refuses a null
// handle, deadlocks when called on the callback's own thread, and no callback runs once it returns.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <mutex>
#include <thread>

#include "netinfo/change_listener_win.h"

namespace nerova::netinfo {
namespace {

enum class Kind { interface_change, address_change, route_change };

struct Registration {
    Kind kind;
    ADDRESS_FAMILY family;
    void* callback;
    void* context;
    BOOLEAN initial;
    std::mutex serial;  // one callback at a time for this registration
};

// Stand-in state: the registrations by handle, what failed, what was cancelled.
std::mutex registry_mutex;
std::map<HANDLE, std::shared_ptr<Registration>> registry;
std::map<Kind, DWORD> refusals;
std::thread::id callback_thread;
int cancels = 0;
int cancels_on_callback_thread = 0;
std::uintptr_t next_handle = 0x100;

void reset_stand_in() {
    const std::lock_guard<std::mutex> lock(registry_mutex);
    registry.clear();
    refusals.clear();
    cancels = cancels_on_callback_thread = 0;
}

DWORD register_change(Kind kind, ADDRESS_FAMILY family, void* callback, void* context, BOOLEAN initial,
                      HANDLE* handle) {
    *handle = nullptr;
    if (family != AF_INET && family != AF_INET6 && family != AF_UNSPEC) return ERROR_INVALID_PARAMETER;
    std::shared_ptr<Registration> made;
    {
        const std::lock_guard<std::mutex> lock(registry_mutex);
        if (refusals.count(kind)) return refusals[kind];
        made = std::make_shared<Registration>();
        made->kind = kind;
        made->family = family;
        made->callback = callback;
        made->context = context;
        made->initial = initial;
        *handle = reinterpret_cast<HANDLE>(next_handle += 4);
        registry[*handle] = made;
    }
    return NO_ERROR;
}

DWORD WINAPI stand_in_interface(ADDRESS_FAMILY family, PIPINTERFACE_CHANGE_CALLBACK callback, PVOID context,
                                BOOLEAN initial, HANDLE* handle) {
    return register_change(Kind::interface_change, family, reinterpret_cast<void*>(callback), context, initial, handle);
}
DWORD WINAPI stand_in_address(ADDRESS_FAMILY family, PUNICAST_IPADDRESS_CHANGE_CALLBACK callback, PVOID context,
                              BOOLEAN initial, HANDLE* handle) {
    return register_change(Kind::address_change, family, reinterpret_cast<void*>(callback), context, initial, handle);
}
DWORD WINAPI stand_in_route(ADDRESS_FAMILY family, PIPFORWARD_CHANGE_CALLBACK callback, PVOID context,
                            BOOLEAN initial, HANDLE* handle) {
    return register_change(Kind::route_change, family, reinterpret_cast<void*>(callback), context, initial, handle);
}
DWORD WINAPI stand_in_cancel(HANDLE handle) {
    if (handle == nullptr) return ERROR_INVALID_PARAMETER;
    std::shared_ptr<Registration> found;
    {
        const std::lock_guard<std::mutex> lock(registry_mutex);
        ++cancels;
        if (std::this_thread::get_id() == callback_thread) {
            ++cancels_on_callback_thread;  // a deadlock on Windows
            return ERROR_INVALID_PARAMETER;
        }
        auto at = registry.find(handle);
        if (at == registry.end()) return ERROR_INVALID_PARAMETER;
        found = at->second;
        registry.erase(at);
    }
    const std::lock_guard<std::mutex> wait(found->serial);  // a callback under way ends first
    return NO_ERROR;
}

const IpHelperNotifications STAND_IN{stand_in_interface, stand_in_address, stand_in_route, stand_in_cancel};

// Delivers one notice of `type` to every live registration of `kind`, on a thread of its own as the
// system does, and waits until it has been handled.
void deliver(Kind kind, MIB_NOTIFICATION_TYPE type) {
    std::thread system([kind, type] {
        callback_thread = std::this_thread::get_id();
        std::vector<std::shared_ptr<Registration>> targets;
        {
            const std::lock_guard<std::mutex> lock(registry_mutex);
            for (auto& [handle, registration] : registry) {
                if (registration->kind == kind) targets.push_back(registration);
            }
        }
        for (auto& registration : targets) {
            const std::lock_guard<std::mutex> serial(registration->serial);
            switch (kind) {
                case Kind::interface_change: {
                    MIB_IPINTERFACE_ROW row{};
                    reinterpret_cast<PIPINTERFACE_CHANGE_CALLBACK>(registration->callback)(registration->context, &row, type);
                    break;
                }
                case Kind::address_change: {
                    MIB_UNICASTIPADDRESS_ROW row{};
                    reinterpret_cast<PUNICAST_IPADDRESS_CHANGE_CALLBACK>(registration->callback)(registration->context,
                                                                                                  &row, type);
                    break;
                }
                case Kind::route_change:
                    // The documented initial notice carries no row.
                    reinterpret_cast<PIPFORWARD_CHANGE_CALLBACK>(registration->callback)(registration->context,
                                                                                          nullptr, type);
                    break;
            }
        }
        callback_thread = std::thread::id();
    });
    system.join();
}

class ChangeListenerWin : public ::testing::Test {
protected:
    void SetUp() override { reset_stand_in(); }
    std::atomic<int> notices{0};
};

TEST_F(ChangeListenerWin, RegistersTheThreeIPv4NotificationsWithoutAnInitialNotice) {
    auto listener = start_change_listener_with(STAND_IN, [this] { ++notices; });
    ASSERT_TRUE(listener);
    const std::lock_guard<std::mutex> lock(registry_mutex);
    ASSERT_EQ(registry.size(), 3u);
    std::map<Kind, int> kinds;
    for (auto& [handle, registration] : registry) {
        ++kinds[registration->kind];
        EXPECT_EQ(registration->family, AF_INET);
        EXPECT_EQ(registration->initial, FALSE);
    }
    EXPECT_EQ(kinds.size(), 3u);
}

TEST_F(ChangeListenerWin, EveryChangeOfEachKindIsANoticeAndTheInitialOneIsNot) {
    auto listener = start_change_listener_with(STAND_IN, [this] { ++notices; });
    ASSERT_TRUE(listener);
    deliver(Kind::interface_change, MibParameterNotification);
    deliver(Kind::address_change, MibAddInstance);
    deliver(Kind::route_change, MibDeleteInstance);
    EXPECT_EQ(notices.load(), 3);
    deliver(Kind::route_change, MibInitialNotification);
    EXPECT_EQ(notices.load(), 3);
}

TEST_F(ChangeListenerWin, DestroyingCancelsEachRegistrationOnceAndNothingComesAfter) {
    auto listener = start_change_listener_with(STAND_IN, [this] { ++notices; });
    ASSERT_TRUE(listener);
    listener.reset();
    deliver(Kind::address_change, MibAddInstance);
    EXPECT_EQ(notices.load(), 0);
    const std::lock_guard<std::mutex> lock(registry_mutex);
    EXPECT_EQ(cancels, 3);
    EXPECT_EQ(cancels_on_callback_thread, 0);
    EXPECT_TRUE(registry.empty());
}

TEST_F(ChangeListenerWin, KeepsTheRegistrationsThatSucceed) {
    {
        const std::lock_guard<std::mutex> lock(registry_mutex);
        refusals[Kind::interface_change] = ERROR_NOT_ENOUGH_MEMORY;
        refusals[Kind::route_change] = ERROR_INVALID_HANDLE;
    }
    auto listener = start_change_listener_with(STAND_IN, [this] { ++notices; });
    ASSERT_TRUE(listener);
    deliver(Kind::address_change, MibAddInstance);
    EXPECT_EQ(notices.load(), 1);
    listener.reset();
    const std::lock_guard<std::mutex> lock(registry_mutex);
    EXPECT_EQ(cancels, 1);  // a refused registration has no handle to cancel
}

TEST_F(ChangeListenerWin, NothingWhenEveryRegistrationIsRefused) {
    {
        const std::lock_guard<std::mutex> lock(registry_mutex);
        refusals[Kind::interface_change] = refusals[Kind::address_change] = refusals[Kind::route_change] =
            ERROR_NOT_SUPPORTED;
    }
    EXPECT_FALSE(start_change_listener_with(STAND_IN, [this] { ++notices; }));
    const std::lock_guard<std::mutex> lock(registry_mutex);
    EXPECT_EQ(cancels, 0);
}

// The real IP Helper: the three registrations are accepted and cancelled. Whether the system
// then calls back depends on it (Wine 8 accepts them and never calls).
TEST(ChangeListenerSystem, TheSystemAcceptsAndCancelsTheRegistrations) {
    std::atomic<int> notices{0};
    auto listener = start_change_listener([&] { ++notices; });
    EXPECT_TRUE(listener);
    listener.reset();
}

}  // namespace
}  // namespace nerova::netinfo
