// The system's notices that the network may have changed: links, IPv4 addresses, IPv4 routes.
#pragma once

#include <functional>
#include <memory>

namespace nerova::netinfo {

// Listens while it lives; destroying it waits until no notice is being handed on.
class ChangeListener {
public:
    virtual ~ChangeListener() = default;
};

// Calls `on_change` for every notice, on the listener's own thread or the system's, so it must
// return at once. Nothing when the system will not notify; a listener whose notices fail later
// simply goes quiet.
std::unique_ptr<ChangeListener> start_change_listener(std::function<void()> on_change);

}  // namespace nerova::netinfo
