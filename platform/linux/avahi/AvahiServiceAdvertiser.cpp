#include "platform/linux/avahi/AvahiServiceAdvertiser.hpp"

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/strlst.h>
#include <avahi-common/thread-watch.h>

#include <string>

#include "KestruneRemoteKit/Support/Log.hpp"

namespace kestrune {

namespace {
constexpr std::string_view kLogCategory = "ServiceAdvertiser";
// A name collision picks "name #2", "#3", …; past this many the network is not sane.
constexpr int kMaxRenames = 20;
}  // namespace

struct AvahiServiceAdvertiser::Impl {
    ~Impl() { stop(); }

    void start(const ServiceDescription& wanted, StatusHandler handler) {
        service = wanted;
        onStatus = std::move(handler);
        renames = 0;
        poll = avahi_threaded_poll_new();
        if (!poll) return report(AdvertisementStatus::State::unavailable, "out of memory");
        int error = 0;
        // The callback can run inside avahi_client_new already, on this thread.
        client = avahi_client_new(avahi_threaded_poll_get(poll), AvahiClientFlags(0),
                                  &Impl::clientChanged, this, &error);
        if (!client) {
            avahi_threaded_poll_free(poll);
            poll = nullptr;
            return report(AdvertisementStatus::State::unavailable,
                          std::string("Avahi is not reachable: ") + avahi_strerror(error));
        }
        if (avahi_threaded_poll_start(poll) < 0) {
            avahi_client_free(client);
            client = nullptr;
            avahi_threaded_poll_free(poll);
            poll = nullptr;
            return report(AdvertisementStatus::State::unavailable,
                          "the Avahi event thread could not start");
        }
    }

    void stop() {
        if (poll) avahi_threaded_poll_stop(poll);
        // With the event thread stopped, nothing else touches these objects.
        if (group) avahi_entry_group_free(group);
        group = nullptr;
        if (client) avahi_client_free(client);
        client = nullptr;
        if (poll) avahi_threaded_poll_free(poll);
        poll = nullptr;
        if (currentName) avahi_free(currentName);
        currentName = nullptr;
        onStatus = nullptr;
    }

    static void clientChanged(AvahiClient* changed, AvahiClientState state, void* context) {
        auto& self = *static_cast<Impl*>(context);
        switch (state) {
            case AVAHI_CLIENT_S_RUNNING:
                self.publish(changed);
                break;
            case AVAHI_CLIENT_S_COLLISION:
            case AVAHI_CLIENT_S_REGISTERING:
                // The host name is changing; the service comes back once the daemon runs again.
                if (self.group) avahi_entry_group_reset(self.group);
                self.report(AdvertisementStatus::State::registering, {});
                break;
            case AVAHI_CLIENT_FAILURE:
                self.report(
                    AdvertisementStatus::State::unavailable,
                    std::string("Avahi failed: ") + avahi_strerror(avahi_client_errno(changed)));
                break;
            case AVAHI_CLIENT_CONNECTING:
                self.report(AdvertisementStatus::State::registering,
                            "waiting for the Avahi daemon");
                break;
        }
    }

    static void groupChanged(AvahiEntryGroup* changed, AvahiEntryGroupState state, void* context) {
        auto& self = *static_cast<Impl*>(context);
        switch (state) {
            case AVAHI_ENTRY_GROUP_ESTABLISHED:
                self.report(AdvertisementStatus::State::advertising, {});
                break;
            case AVAHI_ENTRY_GROUP_COLLISION:
                self.rename(avahi_entry_group_get_client(changed));
                break;
            case AVAHI_ENTRY_GROUP_FAILURE:
                self.report(
                    AdvertisementStatus::State::unavailable,
                    std::string("Avahi refused the service: ") +
                        avahi_strerror(avahi_client_errno(avahi_entry_group_get_client(changed))));
                break;
            case AVAHI_ENTRY_GROUP_UNCOMMITED:
            case AVAHI_ENTRY_GROUP_REGISTERING:
                break;
        }
    }

    void publish(AvahiClient* owner) {
        if (!currentName) {
            const char* base =
                service.name.empty() ? avahi_client_get_host_name(owner) : service.name.c_str();
            currentName = avahi_strdup(base ? base : "Murrelo");
        }
        if (!group) group = avahi_entry_group_new(owner, &Impl::groupChanged, this);
        if (!group) {
            return report(AdvertisementStatus::State::unavailable,
                          std::string("Avahi refused the service: ") +
                              avahi_strerror(avahi_client_errno(owner)));
        }
        if (!avahi_entry_group_is_empty(group)) return;
        AvahiStringList* txt = nullptr;
        for (const auto& [key, value] : service.txt) {
            txt = avahi_string_list_add_pair(txt, key.c_str(), value.c_str());
        }
        int result = avahi_entry_group_add_service_strlst(
            group, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, AvahiPublishFlags(0), currentName,
            service.type.c_str(), nullptr, nullptr, service.port, txt);
        avahi_string_list_free(txt);
        if (result == AVAHI_ERR_COLLISION) return rename(owner);
        if (result >= 0) result = avahi_entry_group_commit(group);
        if (result < 0) {
            return report(AdvertisementStatus::State::unavailable,
                          std::string("Avahi refused the service: ") + avahi_strerror(result));
        }
        report(AdvertisementStatus::State::registering, {});
    }

    void rename(AvahiClient* owner) {
        if (++renames > kMaxRenames) {
            return report(AdvertisementStatus::State::unavailable,
                          "every service name tried is taken on this network");
        }
        char* next = avahi_alternative_service_name(currentName);
        avahi_free(currentName);
        currentName = next;
        log(LogLevel::info, kLogCategory, std::string("name taken, trying \"") + next + "\"");
        if (group) avahi_entry_group_reset(group);
        publish(owner);
    }

    void report(AdvertisementStatus::State state, std::string reason) {
        if (state == AdvertisementStatus::State::unavailable) {
            log(LogLevel::warning, kLogCategory, "not advertised: " + reason);
        }
        if (onStatus) onStatus({state, std::move(reason), currentName ? currentName : ""});
    }

    ServiceDescription service;
    StatusHandler onStatus;
    AvahiThreadedPoll* poll = nullptr;
    AvahiClient* client = nullptr;
    AvahiEntryGroup* group = nullptr;
    char* currentName = nullptr;
    int renames = 0;
};

AvahiServiceAdvertiser::AvahiServiceAdvertiser() : impl_(std::make_unique<Impl>()) {}
AvahiServiceAdvertiser::~AvahiServiceAdvertiser() = default;

void AvahiServiceAdvertiser::advertise(const ServiceDescription& service, StatusHandler onStatus) {
    impl_->stop();
    impl_->start(service, std::move(onStatus));
}

void AvahiServiceAdvertiser::withdraw() {
    impl_->stop();
}

}  // namespace kestrune
