#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace kestrune {

// A service announced on the local network so that paired phones find the computer again.
struct ServiceDescription {
    std::string name;  // empty: the system's default name (the host name)
    std::string type;  // for example "_kestrune._tcp"
    std::uint16_t port = 0;
    std::vector<std::pair<std::string, std::string>> txt;
};

struct AdvertisementStatus {
    enum class State {
        notAdvertised,  // nothing asked for (no fingerprint configured, or server stopped)
        registering,
        advertising,
        unavailable,  // the discovery service cannot be used; `reason` says why
    };
    State state = State::notAdvertised;
    std::string reason;
    std::string name;  // the name the service ended up with, once advertising
    bool operator==(const AdvertisementStatus&) const = default;
};

// Announces one service at a time. A failure never stops the caller from working: the service
// is then simply not found by browsing, and the status tells why.
class ServiceAdvertiser {
  public:
    using StatusHandler = std::function<void(const AdvertisementStatus&)>;

    virtual ~ServiceAdvertiser() = default;

    // Replaces any previous announcement. `onStatus` may run on any thread, and may run before
    // this call returns.
    virtual void advertise(const ServiceDescription& service, StatusHandler onStatus) = 0;
    // Withdraws the announcement; no status is reported after this returns.
    virtual void withdraw() = 0;
};

}  // namespace kestrune
