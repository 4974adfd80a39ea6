#include "platform/linux/wayland/CompositorGlobals.hpp"

#include <wayland-client.h>

namespace kestrune::wayland {

namespace {

void onGlobal(void* data, wl_registry*, std::uint32_t, const char* interface, std::uint32_t) {
    static_cast<std::vector<std::string>*>(data)->emplace_back(interface);
}

void onGlobalRemove(void*, wl_registry*, std::uint32_t) {}

constexpr wl_registry_listener registryListener{onGlobal, onGlobalRemove};

}  // namespace

std::optional<std::vector<std::string>> compositorGlobals() {
    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr) return std::nullopt;
    std::vector<std::string> globals;
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, &globals);
    const bool answered = wl_display_roundtrip(display) >= 0;
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    if (!answered) return std::nullopt;
    return globals;
}

}  // namespace kestrune::wayland
