#include "netinfo/status_source.h"

#include "netinfo/network_changes.h"
#include "netinfo/selection.h"
#include "platform/system.h"

namespace nerova::netinfo {

StatusSource::StatusSource(std::shared_ptr<const std::string> token, std::shared_ptr<const NetworkChanges> changes,
                           Snapshot snapshot)
    : token_(std::move(token)), changes_(std::move(changes)), snapshot_(std::move(snapshot)) {}

std::string StatusSource::fresh_document() const { return document(snapshot_()); }

std::shared_future<NetworkSnapshot> StatusSource::check() const {
    return in_flight_->share(snapshot_, [in_flight = in_flight_](const InFlight<NetworkSnapshot>::Task& run) {
        if (!platform::spawn_detached([in_flight, run] { run(); })) run();
    });
}

std::string StatusSource::document(const NetworkSnapshot& snapshot) const {
    return status_to_json(status_from_survey(*token_, snapshot.survey, snapshot.wan_ip));
}

std::uint64_t StatusSource::change_count() const { return changes_ ? changes_->generation() : 0; }

std::string StatusSource::changed_document() const { return document(changes_ ? changes_->latest() : NetworkSnapshot{}); }

}  // namespace nerova::netinfo
