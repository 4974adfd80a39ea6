#pragma once

#include <memory>

#include "Kestrune/link/server/ServiceAdvertiser.hpp"

namespace kestrune {

// Publishes through the Avahi daemon over the system D-Bus. With no daemon answering, the
// status is `unavailable` with Avahi's own explanation; the caller keeps running.
class AvahiServiceAdvertiser final : public ServiceAdvertiser {
  public:
    AvahiServiceAdvertiser();
    ~AvahiServiceAdvertiser() override;

    void advertise(const ServiceDescription& service, StatusHandler onStatus) override;
    void withdraw() override;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace kestrune
