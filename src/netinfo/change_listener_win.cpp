#include "netinfo/change_listener_win.h"

#include <vector>

namespace nerova::netinfo {
namespace {

class IpHelperChangeListener final : public ChangeListener {
public:
    IpHelperChangeListener(DWORD(WINAPI* cancel)(HANDLE), std::function<void()> on_change)
        : cancel_(cancel), on_change_(std::move(on_change)) {}
    ~IpHelperChangeListener() override {
        for (HANDLE handle : handles_) cancel_(handle);
    }

    // The callbacks of one registration come one at a time, but the three may overlap: on_change
    // is made for that.
    void notice(MIB_NOTIFICATION_TYPE type) const {
        if (type != MibInitialNotification) on_change_();
    }

    std::vector<HANDLE> handles_;

private:
    DWORD(WINAPI* cancel_)(HANDLE);
    std::function<void()> on_change_;
};

void WINAPI on_interface(PVOID context, PMIB_IPINTERFACE_ROW, MIB_NOTIFICATION_TYPE type) {
    static_cast<const IpHelperChangeListener*>(context)->notice(type);
}
void WINAPI on_address(PVOID context, PMIB_UNICASTIPADDRESS_ROW, MIB_NOTIFICATION_TYPE type) {
    static_cast<const IpHelperChangeListener*>(context)->notice(type);
}
void WINAPI on_route(PVOID context, PMIB_IPFORWARD_ROW2, MIB_NOTIFICATION_TYPE type) {
    static_cast<const IpHelperChangeListener*>(context)->notice(type);
}

}  // namespace

IpHelperNotifications system_notifications() {
    return {NotifyIpInterfaceChange, NotifyUnicastIpAddressChange, NotifyRouteChange2, CancelMibChangeNotify2};
}

std::unique_ptr<ChangeListener> start_change_listener_with(const IpHelperNotifications& api,
                                                           std::function<void()> on_change) {
    auto listener = std::make_unique<IpHelperChangeListener>(api.cancel, std::move(on_change));
    void* context = listener.get();
    HANDLE handle = nullptr;
    // The handle is only valid when the call succeeds; on failure the system leaves it null.
    if (api.notify_interface(AF_INET, on_interface, context, FALSE, &handle) == NO_ERROR) {
        listener->handles_.push_back(handle);
    }
    handle = nullptr;
    if (api.notify_address(AF_INET, on_address, context, FALSE, &handle) == NO_ERROR) {
        listener->handles_.push_back(handle);
    }
    handle = nullptr;
    if (api.notify_route(AF_INET, on_route, context, FALSE, &handle) == NO_ERROR) {
        listener->handles_.push_back(handle);
    }
    if (listener->handles_.empty()) return nullptr;
    return listener;
}

std::unique_ptr<ChangeListener> start_change_listener(std::function<void()> on_change) {
    return start_change_listener_with(system_notifications(), std::move(on_change));
}

}  // namespace nerova::netinfo
