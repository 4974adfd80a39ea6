#include "platform/linux/x11/X11Typist.hpp"

#include <X11/XKBlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include "Kestrune/phone/typing/UnicodeText.hpp"
#include "KestruneRemoteKit/Support/Log.hpp"
#include "platform/linux/x11/KeyCodeMap.hpp"
#include "platform/linux/x11/OwnInjection.hpp"
#include "platform/linux/x11/ReceiverCatchUp.hpp"
#include "platform/linux/x11/SpareKeycodes.hpp"
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

    std::unique_ptr<SpareKeycodes> spareKeycodes;
    std::unique_ptr<ReceiverCatchUp> receiver;

    // Characters we have put on spare keycodes; they stay there across chunks so that a text
    // reuses them without touching the keymap again, and go back when typing pauses.
    struct Borrowed {
        KeySym keysym;
        // When it was last typed, counted in key taps: the least recently used goes first.
        std::uint64_t lastUse;
    };
    std::map<KeyCode, Borrowed> borrowed;
    std::uint64_t taps = 0;

    // Borrowed keycodes typed since the last ping went out, when the last of those taps was
    // sent, and the keycodes typed before the ping that still awaits its answer.
    std::set<KeyCode> unasked;
    Clock::time_point lastUnaskedTap;
    std::set<KeyCode> awaitingAnswer;
    bool keymapChangedInChunk = false;
    bool warnedNoAnswer = false;

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

    // The rule that keeps typing exact: a keycode gets a new character only once the receiver
    // has translated every key event already sent on it.
    //
    // A receiving toolkit reads the keymap when it handles a mapping notification (Qt) or the
    // first key event after one (GTK), and it translates each key event with the keymap it read
    // last. The server's notifications arrive in order, but what the toolkit reads is the
    // keymap as it is at the moment it reads it. So if a receiver that is behind is still to
    // handle a key event when we change that event's keycode again, it reads the newer keymap
    // and types the newer character: a pause of 50 ms was enough on an idle machine and not on
    // a busy one, and no fixed pause is enough for every load.
    //
    // The evidence used instead is the receiver's own answer to a ping sent after the key
    // events (ReceiverCatchUp): it answers from its event loop, after every earlier event. A
    // ping goes out at the end of every chunk that used borrowed keycodes, and a keycode typed
    // before it waits for its answer when it is about to change; one typed after the last ping
    // needs a new ping and its answer. So typing goes exactly as fast as the receiver takes in
    // keys, idle or loaded, and costs nothing while the receiver keeps up. A window that does not
    // answer pings gets a fixed pause, lengthened for a loaded machine; one that does not answer
    // within kCatchUpLimit is taken to be hung, and typing goes on rather than stalling.
    //
    // Measured (bench_x11_typing, Qt receiver, a shared 2-core machine at load average 15-20):
    // 1,000 ideographs of 300 different ones arrive exactly in 1.0-1.7 s, 2.5-3 s with two busy
    // processes; with a 50 ms pause per keycode they arrived corrupted, idle and loaded. Text on
    // the keymap never changes it and never waits.
    void waitUntilReceiverCaughtUp(const std::map<KeyCode, KeySym>& changes) {
        auto touches = [&changes](const std::set<KeyCode>& typed) {
            return std::any_of(changes.begin(), changes.end(),
                               [&typed](const auto& change) { return typed.count(change.first); });
        };
        if (touches(unasked)) {
            if (receiver->ask()) {
                awaitingAnswer.insert(unasked.begin(), unasked.end());
            } else {
                std::this_thread::sleep_until(lastUnaskedTap + kUnansweredSettleTime);
            }
            unasked.clear();
        }
        if (!touches(awaitingAnswer)) return;
        auto outcome = receiver->waitForAnswer(kCatchUpLimit);
        awaitingAnswer.clear();
        if (outcome == ReceiverCatchUp::Outcome::noAnswer && !warnedNoAnswer) {
            log(LogLevel::warning, "x11",
                "the focused application did not show it had handled the typed keys");
            warnedNoAnswer = true;
        }
    }

    // Sent at the end of each chunk that changed the keymap, so that the answer is usually in by
    // the time a keycode typed in it needs a new character. A text whose characters all fit on
    // the spare keycodes changes the keymap once and needs no pings after that.
    void askReceiver() {
        if (!keymapChangedInChunk || unasked.empty() || !receiver->ask()) return;
        awaitingAnswer.insert(unasked.begin(), unasked.end());
        unasked.clear();
    }

    std::optional<KeyCode> borrowedKeycodeFor(KeySym keysym) const {
        for (const auto& [keycode, use] : borrowed) {
            if (use.keysym == keysym) return keycode;
        }
        return std::nullopt;
    }

    // Maps the characters of `ahead` that have no key yet onto spare keycodes, as many as fit,
    // in one change of the keymap. Keycodes carrying characters still needed in `ahead` stay;
    // of the others, free ones are taken first, then the least recently used.
    void mapBatch(std::u32string_view ahead) {
        std::set<KeySym> needed;
        std::vector<KeySym> missing;
        for (char32_t c : ahead) {
            KeySym keysym = keysymFor(c);
            if (onKeymap.count(keysym) != 0 || !needed.insert(keysym).second) continue;
            if (!borrowedKeycodeFor(keysym)) missing.push_back(keysym);
        }
        std::vector<KeyCode> candidates;
        for (KeyCode keycode : spares) {
            auto it = borrowed.find(keycode);
            if (it == borrowed.end() || needed.count(it->second.keysym) == 0) {
                candidates.push_back(keycode);
            }
        }
        auto recency = [this](KeyCode k) {
            auto it = borrowed.find(k);
            return it == borrowed.end() ? std::uint64_t{0} : it->second.lastUse + 1;
        };
        std::stable_sort(candidates.begin(), candidates.end(),
                         [&](KeyCode a, KeyCode b) { return recency(a) < recency(b); });
        // Fewer spare keycodes than different characters close together: the first character
        // still needs one, so the keycode whose character comes back last gives way.
        if (candidates.empty() && !spares.empty()) {
            auto nextUse = [&](KeyCode k) {
                auto keysym = borrowed.count(k) != 0 ? borrowed[k].keysym : NoSymbol;
                auto at = std::find_if(ahead.begin(), ahead.end(),
                                       [&](char32_t c) { return keysymFor(c) == keysym; });
                return at - ahead.begin();
            };
            candidates.push_back(
                *std::max_element(spares.begin(), spares.end(),
                                  [&](KeyCode a, KeyCode b) { return nextUse(a) < nextUse(b); }));
        }
        std::map<KeyCode, KeySym> changes;
        for (std::size_t i = 0; i < missing.size() && i < candidates.size(); ++i) {
            changes[candidates[i]] = missing[i];
        }
        if (changes.empty()) return;
        waitUntilReceiverCaughtUp(changes);
        if (!spareKeycodes->change(changes)) return;
        keymapChangedInChunk = true;
        for (const auto& [keycode, keysym] : changes) {
            borrowed[keycode] = Borrowed{keysym, taps};
        }
    }

    void type(std::u32string_view scalars) {
        OwnInjection marker;
        loadKeymap();
        keymapChangedInChunk = false;
        for (std::size_t i = 0; i < scalars.size(); ++i) {
            KeySym keysym = keysymFor(scalars[i]);
            if (auto on = onKeymap.find(keysym); on != onKeymap.end()) {
                tap(on->second.keycode, on->second.shifted);
                continue;
            }
            auto keycode = borrowedKeycodeFor(keysym);
            if (!keycode) {
                mapBatch(scalars.substr(i));
                keycode = borrowedKeycodeFor(keysym);
            }
            if (!keycode) {
                log(LogLevel::warning, "x11", "no spare keycode to type a character with");
                continue;
            }
            tap(*keycode, false);
            borrowed[*keycode].lastUse = ++taps;
            unasked.insert(*keycode);
            lastUnaskedTap = Clock::now();
        }
        setShift(false);
        askReceiver();
        XFlush(display);
    }

    void restoreKeymap() {
        if (borrowed.empty()) return;
        std::map<KeyCode, KeySym> changes;
        for (const auto& [keycode, use] : borrowed) changes[keycode] = NoSymbol;
        waitUntilReceiverCaughtUp(changes);
        spareKeycodes->change(changes);
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
    impl->spareKeycodes = std::make_unique<SpareKeycodes>(impl->display);
    impl->receiver = std::make_unique<ReceiverCatchUp>(impl->display);
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

bool displayAvailable() {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return false;
    XCloseDisplay(display);
    return true;
}

}  // namespace kestrune::x11
