#include "platform/linux/x11/X11Typist.hpp"

#include <X11/XKBlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <map>
#include <optional>
#include <thread>
#include <vector>

#include "Kestrune/phone/typing/UnicodeText.hpp"
#include "KestruneRemoteKit/Support/Log.hpp"
#include "platform/linux/x11/KeyCodeMap.hpp"
#include "platform/linux/x11/OwnInjection.hpp"
#include "platform/linux/x11/TerminalWindow.hpp"
#include "platform/linux/x11/X11Connection.hpp"

namespace kestrune::x11 {

namespace {

using Clock = std::chrono::steady_clock;

// Keysyms of Latin-1 characters equal their code points; every other character has the
// Unicode keysym 0x01000000 + code point.
constexpr KeySym unicodeKeysymBase = 0x01000000;
constexpr std::int64_t vKeyCode = 9;

KeySym keysymFor(char32_t c) {
    if (c == U'\n' || c == U'\r') return XK_Return;
    if (c == U'\t') return XK_Tab;
    if ((c >= 0x20 && c <= 0x7E) || (c >= 0xA0 && c <= 0xFF)) return c;
    return unicodeKeysymBase + c;
}

struct KeyPosition {
    KeyCode keycode;
    bool shifted;
};

}  // namespace

struct Typist::Impl {
    std::unique_ptr<Connection> connection;
    Display* display = nullptr;
    int minKeycode = 0;
    int maxKeycode = 0;
    int symsPerKeycode = 0;
    std::map<KeySym, KeyPosition> onKeymap;
    // Keycodes free for our use: empty in the user's keymap, or currently carrying one of ours.
    std::vector<KeyCode> spares;
    KeyCode shiftKeycode = 0;
    KeyCode controlKeycode = 0;

    // Characters we have put on spare keycodes; they stay there across chunks so that a text
    // reuses them without touching the keymap again, and go back when typing pauses.
    struct Borrowed {
        KeySym keysym;
        Clock::time_point lastUse;
    };
    std::map<KeyCode, Borrowed> borrowed;

    void loadKeymap() {
        onKeymap.clear();
        spares.clear();
        int count = maxKeycode - minKeycode + 1;
        KeySym* syms =
            XGetKeyboardMapping(display, static_cast<KeyCode>(minKeycode), count, &symsPerKeycode);
        if (syms == nullptr) return;
        for (int i = 0; i < count; ++i) {
            auto keycode = static_cast<KeyCode>(minKeycode + i);
            const KeySym* row = syms + static_cast<std::ptrdiff_t>(i) * symsPerKeycode;
            bool empty =
                std::all_of(row, row + symsPerKeycode, [](KeySym s) { return s == NoSymbol; });
            if (empty || borrowed.count(keycode) != 0) {
                spares.push_back(keycode);
                continue;
            }
            // Only the first group's plain and shifted levels: those need no other modifier.
            for (int level = 0; level < std::min(symsPerKeycode, 2); ++level) {
                if (row[level] != NoSymbol) {
                    onKeymap.try_emplace(row[level], KeyPosition{keycode, level == 1});
                }
            }
        }
        XFree(syms);
        shiftKeycode = XKeysymToKeycode(display, XK_Shift_L);
        controlKeycode = XKeysymToKeycode(display, XK_Control_L);
    }

    // Shift stays down across a run of shifted characters: every modifier change is an event the
    // receiving toolkit has to process too.
    bool shiftHeld = false;

    void setShift(bool down) {
        if (down == shiftHeld || shiftKeycode == 0) return;
        XTestFakeKeyEvent(display, shiftKeycode, down, CurrentTime);
        shiftHeld = down;
    }

    void tap(KeyCode keycode, bool shifted) {
        setShift(shifted);
        XTestFakeKeyEvent(display, keycode, True, CurrentTime);
        XTestFakeKeyEvent(display, keycode, False, CurrentTime);
    }

    void waitUntilSettled(const Borrowed& use) {
        XFlush(display);
        std::this_thread::sleep_until(use.lastUse + keycodeSettleTime);
    }

    void mapKeycode(KeyCode keycode, KeySym keysym) {
        std::vector<KeySym> row(static_cast<std::size_t>(symsPerKeycode), NoSymbol);
        // Both levels, so that a Shift the user holds does not change the character.
        row[0] = keysym;
        if (row.size() > 1) row[1] = keysym;
        XChangeKeyboardMapping(display, keycode, symsPerKeycode, row.data(), 1);
    }

    // The spare keycode carrying `keysym`, mapping one (the least recently used) if needed.
    std::optional<KeyCode> keycodeFor(KeySym keysym) {
        for (auto& [keycode, use] : borrowed) {
            if (use.keysym == keysym) return keycode;
        }
        if (spares.empty()) return std::nullopt;
        KeyCode chosen = spares.front();
        for (KeyCode keycode : spares) {
            auto it = borrowed.find(keycode);
            if (it == borrowed.end()) {
                chosen = keycode;
                break;
            }
            if (it->second.lastUse < borrowed[chosen].lastUse) chosen = keycode;
        }
        if (auto it = borrowed.find(chosen); it != borrowed.end()) waitUntilSettled(it->second);
        mapKeycode(chosen, keysym);
        borrowed[chosen] = Borrowed{keysym, Clock::now()};
        return chosen;
    }

    void type(std::u32string_view scalars) {
        OwnInjection marker;
        loadKeymap();
        for (char32_t c : scalars) {
            KeySym keysym = keysymFor(c);
            if (auto on = onKeymap.find(keysym); on != onKeymap.end()) {
                tap(on->second.keycode, on->second.shifted);
                continue;
            }
            auto keycode = keycodeFor(keysym);
            if (!keycode) {
                log(LogLevel::warning, "x11", "no spare keycode to type a character with");
                continue;
            }
            tap(*keycode, false);
            XFlush(display);
            borrowed[*keycode].lastUse = Clock::now();
        }
        setShift(false);
        XFlush(display);
    }

    void restoreKeymap() {
        for (auto& [keycode, use] : borrowed) {
            waitUntilSettled(use);
            mapKeycode(keycode, NoSymbol);
        }
        borrowed.clear();
        XSync(display, False);
    }
};

Typist::Typist(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

Typist::~Typist() {
    restoreKeymap();
}

void Typist::restoreKeymap() {
    if (impl_->connection->isBroken()) return;
    impl_->restoreKeymap();
}

bool Typist::hasBorrowedKeycodes() const {
    return !impl_->borrowed.empty();
}

bool Typist::isBroken() const {
    return impl_->connection->isBroken();
}

std::unique_ptr<Typist> Typist::open() {
    auto connection = Connection::open("typing");
    if (!connection) return nullptr;
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(connection->display(), &event, &error, &major, &minor)) {
        log(LogLevel::warning, "x11", "the X display has no XTest extension: cannot type");
        return nullptr;
    }
    auto impl = std::make_unique<Impl>();
    impl->display = connection->display();
    impl->connection = std::move(connection);
    XDisplayKeycodes(impl->display, &impl->minKeycode, &impl->maxKeycode);
    return std::unique_ptr<Typist>(new Typist(std::move(impl)));
}

void Typist::typeText(std::string_view utf8) {
    if (impl_->connection->isBroken()) return;
    impl_->type(unicode::decodeUtf8(utf8));
}

void Typist::pressKey(std::uint16_t virtualKeyCode) {
    auto keycode = xKeycode(virtualKeyCode);
    if (!keycode || impl_->connection->isBroken()) return;
    OwnInjection marker;
    impl_->tap(static_cast<KeyCode>(*keycode), false);
    impl_->setShift(false);
    XSync(impl_->display, False);
}

void Typist::pressPasteShortcut() {
    auto& impl = *impl_;
    if (impl.connection->isBroken()) return;
    OwnInjection marker;
    impl.loadKeymap();
    bool terminal = focusIsInTerminal(impl.display);
    // The key that gives "v" on the current layout; on a layout without Latin letters the V
    // position, which toolkits match as the shortcut's fallback.
    KeyCode v = XKeysymToKeycode(impl.display, XK_v);
    if (v == 0) v = static_cast<KeyCode>(xKeycode(vKeyCode).value_or(0));
    if (v == 0 || impl.controlKeycode == 0) return;
    XTestFakeKeyEvent(impl.display, impl.controlKeycode, True, CurrentTime);
    impl.tap(v, terminal);
    impl.setShift(false);
    XTestFakeKeyEvent(impl.display, impl.controlKeycode, False, CurrentTime);
    XSync(impl.display, False);
}

bool isTrusted() {
    auto connection = Connection::open("accessibility check");
    if (!connection) return false;
    Display* display = connection->display();
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(display, &event, &error, &major, &minor)) return false;
    int opcode = 0;
    if (!XQueryExtension(display, "XInputExtension", &opcode, &event, &error)) return false;
    int xiMajor = 2, xiMinor = 0;
    return XIQueryVersion(display, &xiMajor, &xiMinor) == Success && xiMajor >= 2;
}

}  // namespace kestrune::x11
