#include "ServiceBrowser.hpp"

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/address.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/simple-watch.h>
#include <avahi-common/strlst.h>

#include <algorithm>
#include <memory>

namespace kestrune {

namespace {

// How long one poll waits, so the overall browse time is kept to within this.
constexpr int kPollSliceMs = 50;

struct BrowseState {
    AvahiClient* client = nullptr;
    BrowseResult result;
};

std::map<std::string, std::string> txtPairs(AvahiStringList* list) {
    std::map<std::string, std::string> pairs;
    for (AvahiStringList* item = list; item != nullptr; item = avahi_string_list_get_next(item)) {
        char* key = nullptr;
        char* value = nullptr;
        size_t size = 0;
        if (avahi_string_list_get_pair(item, &key, &value, &size) != 0) continue;
        pairs.emplace(key, value ? std::string(value, size) : std::string());
        avahi_free(key);
        avahi_free(value);
    }
    return pairs;
}

void resolved(AvahiServiceResolver* resolver, AvahiIfIndex, AvahiProtocol, AvahiResolverEvent event,
              const char* name, const char*, const char*, const char* hostName,
              const AvahiAddress* address, uint16_t port, AvahiStringList* txt,
              AvahiLookupResultFlags, void* userdata) {
    auto* state = static_cast<BrowseState*>(userdata);
    if (event == AVAHI_RESOLVER_FOUND && address != nullptr) {
        char text[AVAHI_ADDRESS_STR_MAX];
        avahi_address_snprint(text, sizeof text, address);
        BrowsedService service{name ? name : "", hostName ? hostName : "", text, port,
                               txtPairs(txt)};
        auto& services = state->result.services;
        if (std::find(services.begin(), services.end(), service) == services.end())
            services.push_back(service);
    }
    avahi_service_resolver_free(resolver);
}

void browsed(AvahiServiceBrowser*, AvahiIfIndex interface, AvahiProtocol protocol,
             AvahiBrowserEvent event, const char* name, const char* type, const char* domain,
             AvahiLookupResultFlags, void* userdata) {
    auto* state = static_cast<BrowseState*>(userdata);
    if (event != AVAHI_BROWSER_NEW) return;
    avahi_service_resolver_new(state->client, interface, protocol, name, type, domain,
                               AVAHI_PROTO_UNSPEC, AvahiLookupFlags(0), resolved, state);
}

}  // namespace

BrowseResult browseServices(std::string_view type, std::chrono::milliseconds duration) {
    std::unique_ptr<AvahiSimplePoll, decltype(&avahi_simple_poll_free)> poll(
        avahi_simple_poll_new(), &avahi_simple_poll_free);
    if (!poll) return {{}, "could not start an Avahi event loop"};
    BrowseState state;
    int error = 0;
    std::unique_ptr<AvahiClient, decltype(&avahi_client_free)> client(
        avahi_client_new(avahi_simple_poll_get(poll.get()), AvahiClientFlags(0), nullptr, nullptr,
                         &error),
        &avahi_client_free);
    if (!client)
        return {{}, std::string("the Avahi daemon is not reachable: ") + avahi_strerror(error)};
    state.client = client.get();

    const std::string serviceType(type);
    AvahiServiceBrowser* browser = avahi_service_browser_new(
        client.get(), AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, serviceType.c_str(), nullptr,
        AvahiLookupFlags(0), browsed, &state);
    if (browser == nullptr) {
        return {
            {},
            std::string("could not browse: ") + avahi_strerror(avahi_client_errno(client.get()))};
    }
    const auto deadline = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < deadline) {
        if (avahi_simple_poll_iterate(poll.get(), kPollSliceMs) != 0) break;
    }
    avahi_service_browser_free(browser);
    return std::move(state.result);
}

}  // namespace kestrune
