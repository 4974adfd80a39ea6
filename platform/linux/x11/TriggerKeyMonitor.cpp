#include "platform/linux/x11/TriggerKeyMonitor.hpp"

#include <X11/extensions/XInput2.h>

#include <cstring>
#include <mutex>
#include <optional>
#include <utility>

#include "KestruneRemoteKit/Support/Log.hpp"
#include "platform/linux/x11/KeyCodeMap.hpp"
#include "platform/linux/x11/OwnInjection.hpp"
#include "platform/linux/x11/TriggerEventRules.hpp"
#include "platform/linux/x11/X11EventLoop.hpp"

namespace kestrune::x11 {

namespace {
// Lock and NumLock change the modifier state of a key event; a grab must cover every mix.
constexpr unsigned int anyModifier = AnyModifier;
}  // namespace

struct TriggerKeyMonitor::Impl : std::enable_shared_from_this<Impl> {
    using StartFailure = TriggerKeySource::StartFailure;

    explicit Impl(MainQueue& m) : main(m) {}

    MainQueue& main;
    TriggerKeyMonitor* owner = nullptr;
    TriggerKey trigger = TriggerKey::modifier(61);
    std::unique_ptr<EventLoop> loop;
    bool running = false;

    // Touched on the loop's thread only.
    std::optional<TriggerEventRules> rules;
    int xiOpcode = -1;
    int xtestKeyboard = -1;
    int xtestPointer = -1;
    std::optional<int> grabbed;

    void deliver(TriggerEventRules::Notice notice) {
        std::weak_ptr<Impl> weak = shared_from_this();
        main.post([weak, notice] {
            auto self = weak.lock();
            if (!self || !self->owner || !self->running) return;
            auto* monitor = self->owner;
            switch (notice) {
                case TriggerEventRules::Notice::press:
                    if (monitor->events_.pressed) monitor->events_.pressed();
                    break;
                case TriggerEventRules::Notice::release:
                    if (monitor->events_.released) monitor->events_.released();
                    break;
                case TriggerEventRules::Notice::otherInput:
                    if (monitor->events_.otherInput) monitor->events_.otherInput();
                    break;
            }
        });
    }

    void handle(Display* display, XEvent& event) {
        if (!rules) return;
        // While our grab of a dedicated key is active the server sends that key to us as core
        // events and leaves it out of our raw events.
        if ((event.type == KeyPress || event.type == KeyRelease) && grabbed &&
            static_cast<int>(event.xkey.keycode) == *grabbed) {
            if (auto notice = rules->key(*grabbed, event.type == KeyPress, false)) deliver(*notice);
            return;
        }
        if (event.type != GenericEvent || event.xcookie.extension != xiOpcode) return;
        if (!XGetEventData(display, &event.xcookie)) return;
        const auto* raw = static_cast<const XIRawEvent*>(event.xcookie.data);
        bool ours = (raw->sourceid == xtestKeyboard || raw->sourceid == xtestPointer) &&
                    OwnInjection::isActive();
        std::optional<TriggerEventRules::Notice> notice;
        switch (event.xcookie.evtype) {
            case XI_RawKeyPress:
                notice = rules->key(raw->detail, true, ours);
                break;
            case XI_RawKeyRelease:
                notice = rules->key(raw->detail, false, ours);
                break;
            case XI_RawButtonPress:
                notice = rules->button(raw->detail, ours);
                break;
            default:
                break;
        }
        XFreeEventData(display, &event.xcookie);
        if (notice) deliver(*notice);
    }

    void findTestDevices(Display* display) {
        int count = 0;
        XIDeviceInfo* devices = XIQueryDevice(display, XIAllDevices, &count);
        for (int i = 0; i < count; ++i) {
            if (std::strstr(devices[i].name, "XTEST keyboard")) xtestKeyboard = devices[i].deviceid;
            if (std::strstr(devices[i].name, "XTEST pointer")) xtestPointer = devices[i].deviceid;
        }
        if (devices) XIFreeDeviceInfo(devices);
    }

    // On the loop's thread: select raw events, grab a dedicated key.
    Result<void, StartFailure> begin(Display* display) {
        int event = 0, error = 0;
        if (!XQueryExtension(display, "XInputExtension", &xiOpcode, &event, &error)) {
            return StartFailure::sessionUnavailable;
        }
        // Announcing 2.2 makes the server send raw events to us even while another client (or
        // our own dedicated-key grab) holds the keyboard; 2.0 servers still work, with less.
        int major = 2, minor = 2;
        if (XIQueryVersion(display, &major, &minor) != Success || major < 2) {
            return StartFailure::sessionUnavailable;
        }
        rules.emplace(trigger);
        if (!rules->isWatchable() || !onKeymap(display, *rules->triggerKeycode())) {
            log(LogLevel::warning, "trigger", "the trigger key has no keycode on this keyboard");
            rules.reset();
            return StartFailure::keyUnwatchable;
        }
        findTestDevices(display);
        Window root = DefaultRootWindow(display);
        if (trigger.kind() == TriggerKey::Kind::dedicatedKey) {
            ErrorTrap trap(display);
            XGrabKey(display, *rules->triggerKeycode(), anyModifier, root, False, GrabModeAsync,
                     GrabModeAsync);
            if (trap.sync() != Success) {
                log(LogLevel::warning, "trigger", "another application holds the trigger key");
                rules.reset();
                return StartFailure::keyUnwatchable;
            }
            grabbed = rules->triggerKeycode();
        }
        unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
        XIEventMask mask{XIAllMasterDevices, sizeof bits, bits};
        XISetMask(bits, XI_RawKeyPress);
        XISetMask(bits, XI_RawKeyRelease);
        XISetMask(bits, XI_RawButtonPress);
        XISelectEvents(display, root, &mask, 1);
        XSync(display, False);
        return {};
    }

    // Whether the server's keyboard has the keycode at all.
    static bool onKeymap(Display* display, int keycode) {
        int lowest = 0, highest = 0;
        XDisplayKeycodes(display, &lowest, &highest);
        return keycode >= lowest && keycode <= highest;
    }

    void end(Display* display) {
        Window root = DefaultRootWindow(display);
        unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
        XIEventMask mask{XIAllMasterDevices, sizeof bits, bits};
        XISelectEvents(display, root, &mask, 1);
        if (grabbed) XUngrabKey(display, *grabbed, anyModifier, root);
        grabbed.reset();
        rules.reset();
        XSync(display, False);
    }
};

TriggerKeyMonitor::TriggerKeyMonitor(MainQueue& main) : impl_(std::make_shared<Impl>(main)) {
    impl_->owner = this;
}

TriggerKeyMonitor::~TriggerKeyMonitor() {
    stop();
    impl_->owner = nullptr;
}

void TriggerKeyMonitor::setEvents(Events events) {
    events_ = std::move(events);
}

void TriggerKeyMonitor::setTriggerKey(TriggerKey key) {
    if (!impl_->running) impl_->trigger = key;
}

TriggerKey TriggerKeyMonitor::triggerKey() const {
    return impl_->trigger;
}

bool TriggerKeyMonitor::isRunning() const {
    return impl_->running;
}

Result<void, TriggerKeySource::StartFailure> TriggerKeyMonitor::start() {
    auto& impl = *impl_;
    if (impl.running) return {};
    if (!impl.loop) {
        impl.loop = std::make_unique<EventLoop>("trigger key");
        if (!impl.loop->isOpen()) {
            impl.loop.reset();
            return StartFailure::sessionUnavailable;
        }
        std::weak_ptr<Impl> weak = impl_;
        impl.loop->setEventHandler([weak](Display* display, XEvent& event) {
            if (auto self = weak.lock()) self->handle(display, event);
        });
    }
    auto started = impl.loop->call([&impl](Display* display) { return impl.begin(display); });
    impl.running = started.ok();
    return started;
}

void TriggerKeyMonitor::stop() {
    auto& impl = *impl_;
    if (!impl.running) return;
    impl.running = false;
    impl.loop->call([&impl](Display* display) {
        impl.end(display);
        return true;
    });
}

KeyboardState TriggerKeyMonitor::keyboardState() {
    std::weak_ptr<Impl> weak = impl_;
    // The server's key state, not our event record: a release lost while another client grabbed
    // the keyboard is still seen here.
    auto query = [weak]() -> std::optional<std::array<char, 32>> {
        auto self = weak.lock();
        if (!self || !self->loop) return std::nullopt;
        return self->loop->call([](Display* display) {
            std::array<char, 32> keys{};
            XQueryKeymap(display, keys.data());
            return keys;
        });
    };
    auto down = [](const std::array<char, 32>& keys, int keycode) {
        return keycode >= 0 && keycode < 256 && (keys[keycode / 8] & (1 << (keycode % 8))) != 0;
    };
    KeyboardState state;
    state.isKeyDown = [query, down](std::uint16_t virtualKeyCode) {
        auto keycode = xKeycode(virtualKeyCode);
        auto keys = query();
        return keycode && keys && down(*keys, *keycode);
    };
    state.modifierFlags = [query, down]() -> std::uint64_t {
        auto keys = query();
        if (!keys) return 0;
        return x11::modifierFlags([&](int keycode) { return down(*keys, keycode); });
    };
    return state;
}

}  // namespace kestrune::x11
