// Where every status document is made, for /status and the live channels alike: the adapter
// survey and the router's answer go in, JSON with the access token stamped on comes out.
#pragma once

#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <string>

#include "common/in_flight.h"
#include "netinfo/collect.h"

namespace nerova::netinfo {

class NetworkChanges;

class StatusSource {
public:
    using Snapshot = std::function<NetworkSnapshot()>;

    // `changes` is null where the system reports no network changes; `snapshot` surveys the
    // adapters and asks the router.
    StatusSource(std::shared_ptr<const std::string> token, std::shared_ptr<const NetworkChanges> changes,
                 Snapshot snapshot = fresh_network_snapshot);

    // Surveyed and asked now (a router lookup already under way is shared).
    std::string fresh_document() const;

    // The check in flight, or a new one on a thread of its own (the caller's when none can be
    // made), so that a channel goes on reading while the router is asked. Channels that check
    // meanwhile share it; nothing is kept once it ends.
    std::shared_future<NetworkSnapshot> check() const;
    std::string document(const NetworkSnapshot& snapshot) const;

    // Refreshes that reported network changes brought: whether any are reported at all, how many
    // have ended (a channel that saw another count asks for the newest), and the newest document.
    bool reports_changes() const { return changes_ != nullptr; }
    std::uint64_t change_count() const;
    std::string changed_document() const;

private:
    std::shared_ptr<const std::string> token_;
    std::shared_ptr<const NetworkChanges> changes_;
    Snapshot snapshot_;
    // Shared with the check's thread, which may outlive the source while the process exits.
    std::shared_ptr<InFlight<NetworkSnapshot>> in_flight_ = std::make_shared<InFlight<NetworkSnapshot>>();
};

}  // namespace nerova::netinfo
