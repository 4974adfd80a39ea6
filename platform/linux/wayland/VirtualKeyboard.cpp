#include "platform/linux/wayland/VirtualKeyboard.hpp"

#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <virtual-keyboard-unstable-v1-client.h>
#include <wlr-foreign-toplevel-management-unstable-v1-client.h>
#include "Kestrune/phone/typing/UnicodeText.hpp"
#include "KestruneRemoteKit/Support/Log.hpp"
#include "platform/linux/wayland/TypingKeymap.hpp"
#include "platform/linux/x11/KeyCodeMap.hpp"
#include "platform/linux/x11/TerminalWindow.hpp"

namespace kestrune::wayland {

namespace {

constexpr std::string_view kLogCategory = "VirtualKeyboard";
// The newest versions whose events the listeners below handle.
constexpr std::uint32_t kSeatVersion = 5;
// The largest keymap accepted from the compositor: a full layout is about 60 KiB.
constexpr std::uint32_t kMaxKeymapSize = 4u << 20;

enum KeyState : std::uint32_t {
    released = WL_KEYBOARD_KEY_STATE_RELEASED,
    pressed = WL_KEYBOARD_KEY_STATE_PRESSED
};

std::uint32_t nowMilliseconds() {
    using namespace std::chrono;
    return static_cast<std::uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace

struct VirtualKeyboard::Impl {
    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    wl_seat* seat = nullptr;
    std::uint32_t seatCapabilities = 0;
    zwp_virtual_keyboard_manager_v1* manager = nullptr;
    zwp_virtual_keyboard_v1* keyboard = nullptr;
    // Every window of the session with its application id and whether it is the active one, for
    // the paste shortcut: terminals paste with Ctrl+Shift+V.
    struct Toplevel {
        std::string appId;
        bool activated = false;
        std::string pendingAppId;
        bool pendingActivated = false;
    };
    zwlr_foreign_toplevel_manager_v1* toplevels = nullptr;
    std::map<zwlr_foreign_toplevel_handle_v1*, Toplevel> windows;
    std::string seatKeymap;
    std::unique_ptr<TypingKeymap> layout;
    // The character on each spare keycode in the keymap uploaded last (0: none), and when it was
    // last typed.
    std::vector<char32_t> slots;
    std::vector<std::chrono::steady_clock::time_point> lastUsed;
    std::uint32_t modifiers = 0;

    ~Impl() {
        for (auto& [handle, window] : windows) zwlr_foreign_toplevel_handle_v1_destroy(handle);
        if (toplevels) zwlr_foreign_toplevel_manager_v1_destroy(toplevels);
        if (keyboard) zwp_virtual_keyboard_v1_destroy(keyboard);
        if (manager) zwp_virtual_keyboard_manager_v1_destroy(manager);
        if (seat) wl_seat_destroy(seat);
        if (registry) wl_registry_destroy(registry);
        if (display) wl_display_disconnect(display);
    }

    static void onGlobal(void* data, wl_registry* registry, std::uint32_t name,
                         const char* interface, std::uint32_t version) {
        auto* self = static_cast<Impl*>(data);
        if (std::strcmp(interface, wl_seat_interface.name) == 0 && self->seat == nullptr) {
            self->seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface,
                                                                std::min(version, kSeatVersion)));
            wl_seat_add_listener(self->seat, &seatListener, self);
        } else if (std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0) {
            self->manager = static_cast<zwp_virtual_keyboard_manager_v1*>(
                wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
        } else if (std::strcmp(interface, zwlr_foreign_toplevel_manager_v1_interface.name) == 0) {
            self->toplevels = static_cast<zwlr_foreign_toplevel_manager_v1*>(
                wl_registry_bind(registry, name, &zwlr_foreign_toplevel_manager_v1_interface, 1));
            zwlr_foreign_toplevel_manager_v1_add_listener(self->toplevels, &toplevelsListener,
                                                          self);
        }
    }

    static void onToplevel(void* data, zwlr_foreign_toplevel_manager_v1*,
                           zwlr_foreign_toplevel_handle_v1* handle) {
        auto* self = static_cast<Impl*>(data);
        self->windows[handle];
        zwlr_foreign_toplevel_handle_v1_add_listener(handle, &windowListener, self);
    }
    static void onToplevelsFinished(void*, zwlr_foreign_toplevel_manager_v1*) {}
    static constexpr zwlr_foreign_toplevel_manager_v1_listener toplevelsListener{
        onToplevel, onToplevelsFinished};

    static void onTitle(void*, zwlr_foreign_toplevel_handle_v1*, const char*) {}
    static void onAppId(void* data, zwlr_foreign_toplevel_handle_v1* handle, const char* appId) {
        static_cast<Impl*>(data)->windows[handle].pendingAppId = appId;
    }
    static void onOutput(void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {}
    static void onState(void* data, zwlr_foreign_toplevel_handle_v1* handle, wl_array* states) {
        bool activated = false;
        const auto* state = static_cast<const std::uint32_t*>(states->data);
        for (std::size_t i = 0; i < states->size / sizeof(std::uint32_t); ++i) {
            activated = activated || state[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED;
        }
        static_cast<Impl*>(data)->windows[handle].pendingActivated = activated;
    }
    static void onWindowDone(void* data, zwlr_foreign_toplevel_handle_v1* handle) {
        auto& window = static_cast<Impl*>(data)->windows[handle];
        window.appId = window.pendingAppId;
        window.activated = window.pendingActivated;
    }
    static void onWindowClosed(void* data, zwlr_foreign_toplevel_handle_v1* handle) {
        static_cast<Impl*>(data)->windows.erase(handle);
        zwlr_foreign_toplevel_handle_v1_destroy(handle);
    }
    static constexpr zwlr_foreign_toplevel_handle_v1_listener windowListener{
        onTitle, onAppId, onOutput, onOutput, onState, onWindowDone, onWindowClosed};

    // Whether the active window belongs to a terminal, as far as the compositor tells.
    bool terminalActive() {
        wl_display_roundtrip(display);
        for (const auto& [handle, window] : windows) {
            if (window.activated) return x11::isTerminalWindowClass(window.appId, window.appId);
        }
        return false;
    }
    static void onGlobalRemove(void*, wl_registry*, std::uint32_t) {}
    static constexpr wl_registry_listener registryListener{onGlobal, onGlobalRemove};

    static void onCapabilities(void* data, wl_seat*, std::uint32_t capabilities) {
        static_cast<Impl*>(data)->seatCapabilities = capabilities;
    }
    static void onSeatName(void*, wl_seat*, const char*) {}
    static constexpr wl_seat_listener seatListener{onCapabilities, onSeatName};

    static void onKeymap(void* data, wl_keyboard*, std::uint32_t format, std::int32_t fd,
                         std::uint32_t size) {
        auto* self = static_cast<Impl*>(data);
        if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 && size > 0 && size <= kMaxKeymapSize) {
            void* mapped = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
            if (mapped != MAP_FAILED) {
                self->seatKeymap.assign(static_cast<const char*>(mapped), size);
                munmap(mapped, size);
            }
        }
        close(fd);
    }
    static void onEnter(void*, wl_keyboard*, std::uint32_t, wl_surface*, wl_array*) {}
    static void onLeave(void*, wl_keyboard*, std::uint32_t, wl_surface*) {}
    static void onKey(void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t,
                      std::uint32_t) {}
    static void onModifiers(void*, wl_keyboard*, std::uint32_t, std::uint32_t, std::uint32_t,
                            std::uint32_t, std::uint32_t) {}
    static void onRepeatInfo(void*, wl_keyboard*, std::int32_t, std::int32_t) {}
    static constexpr wl_keyboard_listener keyboardListener{onKeymap, onEnter,     onLeave,
                                                           onKey,    onModifiers, onRepeatInfo};

    // The user's layout: the seat keyboard's keymap when there is a keyboard, else the defaults.
    std::unique_ptr<TypingKeymap> readLayout() {
        if ((seatCapabilities & WL_SEAT_CAPABILITY_KEYBOARD) != 0) {
            wl_keyboard* seatKeyboard = wl_seat_get_keyboard(seat);
            wl_keyboard_add_listener(seatKeyboard, &keyboardListener, this);
            wl_display_roundtrip(display);
            if (wl_keyboard_get_version(seatKeyboard) >= WL_KEYBOARD_RELEASE_SINCE_VERSION) {
                wl_keyboard_release(seatKeyboard);
            } else {
                wl_keyboard_destroy(seatKeyboard);
            }
            // Without a keyboard that has typed yet, the seat offers no keymap.
            if (!seatKeymap.empty()) {
                if (auto parsed = TypingKeymap::fromText(seatKeymap)) return parsed;
                log(LogLevel::warning, kLogCategory,
                    "the seat's keymap did not compile: typing with the default layout");
            }
        }
        return TypingKeymap::fromDefaults();
    }

    bool upload(const std::string& text) {
        int fd = memfd_create("murrelo-keymap", MFD_CLOEXEC);
        if (fd < 0) return false;
        // The compositor maps the whole size, terminating NUL included.
        const std::size_t size = text.size() + 1;
        bool written = static_cast<std::size_t>(write(fd, text.c_str(), size)) == size;
        if (written) {
            zwp_virtual_keyboard_v1_keymap(keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                           static_cast<std::uint32_t>(size));
        }
        close(fd);
        return written;
    }

    // Sends what is queued, waiting while the socket is full rather than dropping events.
    void flush() {
        while (wl_display_flush(display) < 0 && errno == EAGAIN) {
            pollfd writable{wl_display_get_fd(display), POLLOUT, 0};
            if (poll(&writable, 1, -1) < 0 && errno != EINTR) return;
        }
    }

    void setModifiers(std::uint32_t mask) {
        if (mask == modifiers) return;
        modifiers = mask;
        zwp_virtual_keyboard_v1_modifiers(keyboard, mask, 0, 0, 0);
        flush();
        std::this_thread::sleep_for(kEventPause);
    }

    void key(std::uint32_t code, KeyState state) {
        zwp_virtual_keyboard_v1_key(keyboard, nowMilliseconds(), code, state);
        flush();
        std::this_thread::sleep_for(kEventPause);
    }

    void stroke(std::uint32_t code, std::uint32_t mask) {
        setModifiers(mask);
        key(code, pressed);
        key(code, released);
    }

    // Puts every character of `extras` on a spare keycode, keeping those already there and
    // taking the free or least recently used keycodes for the others.
    bool carry(const std::vector<char32_t>& extras) {
        bool changed = false;
        for (char32_t c : extras) {
            if (std::find(slots.begin(), slots.end(), c) != slots.end()) continue;
            std::size_t chosen = slots.size();
            for (std::size_t i = 0; i < slots.size(); ++i) {
                if (std::find(extras.begin(), extras.end(), slots[i]) != extras.end()) continue;
                if (chosen == slots.size() || slots[i] == 0 ||
                    (slots[chosen] != 0 && lastUsed[i] < lastUsed[chosen])) {
                    chosen = i;
                }
                if (slots[chosen] == 0) break;
            }
            if (chosen == slots.size()) return false;
            if (slots[chosen] != 0)
                std::this_thread::sleep_until(lastUsed[chosen] + kReassignSettle);
            slots[chosen] = c;
            changed = true;
        }
        if (!changed) return true;
        const auto text = layout->textWithExtras(slots);
        return !text.empty() && upload(text);
    }

    void typeScalar(char32_t scalar) {
        if (scalar == U'\n' || scalar == U'\r') return stroke(layoutKey(XKB_KEY_Return), 0);
        if (scalar == U'\t') return stroke(layoutKey(XKB_KEY_Tab), 0);
        if (auto onLayout = layout->onLayout(scalar)) {
            return stroke(onLayout->key, onLayout->modifiers);
        }
        auto at = std::find(slots.begin(), slots.end(), scalar);
        if (at == slots.end()) return;
        const auto index = static_cast<std::size_t>(at - slots.begin());
        stroke(layout->spareKey(index), 0);
        lastUsed[index] = std::chrono::steady_clock::now();
    }

    std::uint32_t layoutKey(std::uint32_t keysym) const {
        // The evdev codes of Return and Tab, for a layout that somehow lacks them.
        constexpr std::uint32_t kEvdevReturn = 28;
        constexpr std::uint32_t kEvdevTab = 15;
        return layout->keyFor(keysym).value_or(keysym == XKB_KEY_Tab ? kEvdevTab : kEvdevReturn);
    }

    // Types the text in batches whose characters off the layout fit on the spare keycodes.
    void type(const std::u32string& scalars) {
        std::size_t at = 0;
        while (at < scalars.size()) {
            std::vector<char32_t> extras;
            std::size_t end = at;
            for (; end < scalars.size(); ++end) {
                const char32_t c = scalars[end];
                if (c == U'\n' || c == U'\r' || c == U'\t' || layout->onLayout(c)) continue;
                if (std::find(extras.begin(), extras.end(), c) != extras.end()) continue;
                if (extras.size() == layout->spareCount()) break;
                extras.push_back(c);
            }
            if (!carry(extras)) {
                log(LogLevel::error, kLogCategory,
                    "a keymap for characters off the layout could not be made: they are left out");
                std::fill(slots.begin(), slots.end(), 0);
            }
            for (; at < end; ++at) typeScalar(scalars[at]);
        }
        setModifiers(0);
        // Errors the compositor raised show up here rather than in the next piece.
        wl_display_roundtrip(display);
    }
};

std::unique_ptr<VirtualKeyboard> VirtualKeyboard::open() {
    auto impl = std::make_unique<Impl>();
    impl->display = wl_display_connect(nullptr);
    if (impl->display == nullptr) {
        log(LogLevel::error, kLogCategory,
            "no Wayland compositor answers (is WAYLAND_DISPLAY set?)");
        return nullptr;
    }
    impl->registry = wl_display_get_registry(impl->display);
    wl_registry_add_listener(impl->registry, &Impl::registryListener, impl.get());
    // The globals, then the seat's capabilities.
    wl_display_roundtrip(impl->display);
    wl_display_roundtrip(impl->display);
    if (impl->seat == nullptr || impl->manager == nullptr) {
        log(LogLevel::error, kLogCategory,
            "the compositor offers no virtual keyboard (zwp_virtual_keyboard_manager_v1)");
        return nullptr;
    }
    const bool seatHadKeyboard = (impl->seatCapabilities & WL_SEAT_CAPABILITY_KEYBOARD) != 0;
    impl->layout = impl->readLayout();
    if (!impl->layout || impl->layout->textWithExtras({}).empty()) {
        log(LogLevel::error, kLogCategory, "no keyboard layout could be compiled");
        return nullptr;
    }
    impl->slots.assign(impl->layout->spareCount(), 0);
    impl->lastUsed.assign(impl->layout->spareCount(), {});
    impl->keyboard =
        zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(impl->manager, impl->seat);
    if (!impl->upload(impl->layout->textWithExtras({})) ||
        wl_display_roundtrip(impl->display) < 0) {
        log(LogLevel::error, kLogCategory, "the compositor refused the virtual keyboard");
        return nullptr;
    }
    if (!seatHadKeyboard) std::this_thread::sleep_for(kNewSeatKeyboardSettle);
    return std::unique_ptr<VirtualKeyboard>(new VirtualKeyboard(std::move(impl)));
}

VirtualKeyboard::VirtualKeyboard(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

VirtualKeyboard::~VirtualKeyboard() = default;

void VirtualKeyboard::typeText(std::string_view utf8) {
    impl_->type(unicode::decodeUtf8(utf8));
}

void VirtualKeyboard::pressKey(std::uint16_t virtualKeyCode) {
    auto evdev = x11::evdevCode(virtualKeyCode);
    if (!evdev) return;
    impl_->stroke(static_cast<std::uint32_t>(*evdev), 0);
    wl_display_roundtrip(impl_->display);
}

void VirtualKeyboard::pressPasteShortcut() {
    const bool terminal = impl_->terminalActive();
    auto v = impl_->layout->keyFor(XKB_KEY_v);
    if (!v) {
        log(LogLevel::error, kLogCategory, "no paste shortcut: the layout has no key for V");
        return;
    }
    const auto mask = impl_->layout->controlMask() | (terminal ? impl_->layout->shiftMask() : 0);
    impl_->stroke(*v, mask);
    impl_->setModifiers(0);
    wl_display_roundtrip(impl_->display);
}

bool VirtualKeyboard::isBroken() const {
    return wl_display_get_error(impl_->display) != 0;
}

}  // namespace kestrune::wayland
