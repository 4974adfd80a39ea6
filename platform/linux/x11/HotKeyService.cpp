#include "platform/linux/x11/HotKeyService.hpp"

#include <X11/XKBlib.h>

#include <optional>

#include "KestruneRemoteKit/Support/Log.hpp"
#include "platform/linux/x11/KeyCodeMap.hpp"
#include "platform/linux/x11/X11EventLoop.hpp"

namespace kestrune::x11 {

namespace {
// Num Lock is Mod2 on every common keymap.
constexpr unsigned int numLockMask = Mod2Mask;
constexpr unsigned int lockVariants[] = {0, LockMask, numLockMask, LockMask | numLockMask};
}  // namespace

unsigned int xModifiers(std::uint64_t flags) {
    unsigned int mask = 0;
    if (flags & GlobalHotKey::command) mask |= ControlMask;
    if (flags & GlobalHotKey::shift) mask |= ShiftMask;
    if (flags & GlobalHotKey::option) mask |= Mod1Mask;
    if (flags & GlobalHotKey::control) mask |= Mod4Mask;
    return mask;
}

struct HotKeyService::Impl : std::enable_shared_from_this<Impl> {
    explicit Impl(MainQueue& m) : main(m), loop("global shortcut") {}

    MainQueue& main;
    EventLoop loop;

    // Touched on the loop's thread only.
    struct Grab {
        int keycode;
        unsigned int modifiers;
    };
    std::optional<Grab> grab;
    std::function<void()> onPress;
    bool isDown = false;

    void handle(Display*, XEvent& event) {
        if (!grab) return;
        if (event.type != KeyPress && event.type != KeyRelease) return;
        if (static_cast<int>(event.xkey.keycode) != grab->keycode) return;
        if (event.type == KeyRelease) {
            isDown = false;
            return;
        }
        // With detectable auto-repeat a held shortcut repeats as presses only: act once.
        if (isDown) return;
        isDown = true;
        if (onPress) main.post(onPress);
    }

    void ungrab(Display* display) {
        if (!grab) return;
        for (unsigned int variant : lockVariants) {
            XUngrabKey(display, grab->keycode, grab->modifiers | variant,
                       DefaultRootWindow(display));
        }
        grab.reset();
        onPress = nullptr;
        isDown = false;
        XSync(display, False);
    }

    bool grabKey(Display* display, int keycode, unsigned int modifiers) {
        Window root = DefaultRootWindow(display);
        ErrorTrap trap(display);
        for (unsigned int variant : lockVariants) {
            XGrabKey(display, keycode, modifiers | variant, root, False, GrabModeAsync,
                     GrabModeAsync);
        }
        if (trap.sync() == Success) return true;
        for (unsigned int variant : lockVariants)
            XUngrabKey(display, keycode, modifiers | variant, root);
        return false;
    }
};

HotKeyService::HotKeyService(MainQueue& main) : impl_(std::make_shared<Impl>(main)) {
    std::weak_ptr<Impl> weak = impl_;
    impl_->loop.setEventHandler([weak](Display* display, XEvent& event) {
        if (auto self = weak.lock()) self->handle(display, event);
    });
    if (impl_->loop.isOpen()) {
        impl_->loop.call([](Display* display) {
            XkbSetDetectableAutoRepeat(display, True, nullptr);
            return true;
        });
    }
}

HotKeyService::~HotKeyService() {
    unregisterHotKey();
}

bool HotKeyService::registerHotKey(const GlobalHotKey& hotKey, std::function<void()> onPress) {
    auto& impl = *impl_;
    if (!impl.loop.isOpen()) return false;
    auto keycode = xKeycode(hotKey.keyCode);
    if (!keycode) return false;
    unsigned int modifiers = xModifiers(hotKey.modifiers);
    bool grabbed = impl.loop.call([&impl, keycode, modifiers, &onPress](Display* display) {
        impl.ungrab(display);
        if (!impl.grabKey(display, *keycode, modifiers)) return false;
        impl.grab = Impl::Grab{*keycode, modifiers};
        impl.onPress = std::move(onPress);
        return true;
    });
    if (!grabbed) {
        log(LogLevel::info, "hotkey",
            "the shortcut " + hotKey.displayName() + " is taken by another application");
    }
    return grabbed;
}

void HotKeyService::unregisterHotKey() {
    auto& impl = *impl_;
    if (!impl.loop.isOpen()) return;
    impl.loop.call([&impl](Display* display) {
        impl.ungrab(display);
        return true;
    });
}

}  // namespace kestrune::x11
