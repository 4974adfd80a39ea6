#include "platform/linux/clipboard/X11Clipboard.hpp"

#include <X11/Xatom.h>
#include <X11/Xlib-xcb.h>
#include <X11/Xlib.h>
#include <poll.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <optional>
#include <utility>

#include "KestruneRemoteKit/Support/Log.hpp"
#include "platform/linux/x11/X11Connection.hpp"
#include "platform/linux/x11/X11EventLoop.hpp"

namespace kestrune {

namespace {

using Clock = std::chrono::steady_clock;
using Representation = PasteboardSnapshot::Representation;

// How long one answer of the current owner may take before that target is skipped, and how long
// a whole snapshot may take: an unresponsive owner must not hold up the paste for long.
constexpr auto kConversionLimit = std::chrono::milliseconds(1000);
constexpr auto kSnapshotLimit = std::chrono::milliseconds(4000);
// Bounds what a snapshot keeps in memory; larger data is skipped (and missing after the restore).
constexpr std::size_t kMaxSnapshotBytes = 256u << 20;
// Data above this size is sent incrementally (INCR), well below the server's request limit.
constexpr std::size_t kIncrementalChunk = 256u << 10;

// Targets that describe the selection rather than hold its data: never saved, always answered
// by us.
constexpr const char* kMetaTargets[] = {"TARGETS",        "TIMESTAMP", "MULTIPLE",
                                        "SAVE_TARGETS",   "DELETE",    "INSERT_SELECTION",
                                        "INSERT_PROPERTY"};

// Bytes per unit as Xlib hands property data over: format 32 comes as C longs.
std::size_t unitSize(int format) {
    return format == 32 ? sizeof(long) : static_cast<std::size_t>(format / 8);
}

std::vector<std::uint8_t> bytes(std::string_view text) {
    return {text.begin(), text.end()};
}

std::optional<std::string> latin1(std::string_view utf8) {
    std::string out;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        auto c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if ((c == 0xC2 || c == 0xC3) && i + 1 < utf8.size()) {
            out.push_back(static_cast<char>(((c & 0x03) << 6) | (utf8[++i] & 0x3F)));
        } else {
            return std::nullopt;
        }
    }
    return out;
}

}  // namespace

struct X11Clipboard::Owner {
    struct Outgoing {
        Window requestor;
        Atom property;
        Atom type;
        int format;
        std::vector<std::uint8_t> data;
        std::size_t offset = 0;
        // The write whose text this hands to the focused application; 0 for anything else.
        std::uint64_t textWrite = 0;
    };

    // Used on the loop's thread only.
    const x11::Connection* connection = nullptr;
    Display* display = nullptr;
    Window window = None;
    Atom clipboard = None, targets = None, timestamp = None, multiple = None, incr = None,
         utf8String = None, snapshotProperty = None, timeProperty = None;

    std::optional<PasteboardSnapshot::Item> owned;
    Time ownedSince = CurrentTime;
    std::vector<Outgoing> outgoing;
    // The bits of a resource id that name the client that made it, the same for every client.
    XID clientBits = 0;

    // Whether the text of the last writeText has been read: writes are counted, `owned` is that
    // text while `ownsWrittenText`, and `takenWrite` is the last write a receiver read in full.
    std::uint64_t textWrites = 0;
    bool ownsWrittenText = false;
    std::uint64_t takenWrite = 0;
    std::function<void()> onTaken;
    std::uint64_t onTakenWrite = 0;

    // Last, so that its thread ends before the state it uses goes away.
    x11::EventLoop loop{"clipboard"};

    Atom atom(const std::string& name) { return XInternAtom(display, name.c_str(), False); }
    std::string atomName(Atom a) {
        char* name = XGetAtomName(display, a);
        std::string out = name ? name : "";
        if (name) XFree(name);
        return out;
    }
    bool isMeta(const std::string& name) {
        return std::any_of(std::begin(kMetaTargets), std::end(kMetaTargets),
                           [&](const char* meta) { return name == meta; });
    }

    bool start() {
        if (!loop.isOpen()) return false;
        loop.call([this](Display* loopDisplay) {
            connection = &loop.connection();
            display = loopDisplay;
            window = XCreateSimpleWindow(display, connection->root(), 0, 0, 1, 1, 0, 0, 0);
            XSelectInput(display, window, PropertyChangeMask);
            clipboard = atom("CLIPBOARD");
            targets = atom("TARGETS");
            timestamp = atom("TIMESTAMP");
            multiple = atom("MULTIPLE");
            incr = atom("INCR");
            utf8String = atom("UTF8_STRING");
            snapshotProperty = atom("_MURRELO_CLIPBOARD_SNAPSHOT");
            timeProperty = atom("_MURRELO_CLIPBOARD_TIME");
            clientBits =
                ~static_cast<XID>(xcb_get_setup(XGetXCBConnection(display))->resource_id_mask);
            XFlush(display);
            return true;
        });
        loop.setEventHandler([this](Display*, XEvent& event) { handle(event); });
        return true;
    }

    // Gives up the clipboard and the window; the loop's thread ends with the owner.
    void stop() {
        loop.call([this](Display*) {
            if (connection->isBroken()) return false;
            if (owned) XSetSelectionOwner(display, clipboard, None, CurrentTime);
            XDestroyWindow(display, window);
            XFlush(display);
            return true;
        });
    }

    // Runs `command` on the loop's thread. After a lost server commands still run (and complete
    // empty), so no paste waits forever for its clipboard.
    void submit(std::function<void()> command) {
        loop.post([command = std::move(command)](Display*) { command(); });
    }

    // Waits for the connection until `deadline`; false when the time is up. New commands wait
    // until the running one is done.
    bool waitForActivity(Clock::time_point deadline) {
        if (XPending(display) > 0) return true;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return false;
        pollfd fd{ConnectionNumber(display), POLLIN, 0};
        return poll(&fd, 1, static_cast<int>(left.count())) > 0;
    }

    // Serves other clients while waiting for an event that `matches`; false on time-out.
    bool waitFor(const std::function<bool(const XEvent&)>& matches, XEvent& found,
                 Clock::time_point deadline) {
        while (!connection->isBroken()) {
            while (XPending(display) > 0) {
                XEvent event;
                XNextEvent(display, &event);
                if (matches(event)) {
                    found = event;
                    return true;
                }
                handle(event);
            }
            if (!waitForActivity(deadline)) return false;
        }
        return false;
    }

    void handle(const XEvent& event) {
        switch (event.type) {
            case SelectionRequest:
                serve(event.xselectionrequest);
                break;
            case SelectionClear:
                if (event.xselectionclear.selection == clipboard) {
                    owned.reset();
                    ownsWrittenText = false;
                    outgoing.clear();
                }
                break;
            case PropertyNotify:
                if (event.xproperty.state == PropertyDelete) continueOutgoing(event.xproperty);
                break;
            default:
                break;
        }
    }

    // ---- reading the current owner ----

    Time serverTime() {
        XChangeProperty(display, window, timeProperty, XA_STRING, 8, PropModeAppend, nullptr, 0);
        XEvent found;
        auto matches = [this](const XEvent& e) {
            return e.type == PropertyNotify && e.xproperty.window == window &&
                   e.xproperty.atom == timeProperty;
        };
        if (waitFor(matches, found, Clock::now() + kConversionLimit)) return found.xproperty.time;
        return CurrentTime;
    }

    // Reads and deletes the whole property; none when it is missing.
    std::optional<Representation> readProperty() {
        Representation out;
        long offset = 0;
        while (true) {
            Atom type = None;
            int format = 0;
            unsigned long count = 0;
            unsigned long after = 0;
            unsigned char* data = nullptr;
            if (XGetWindowProperty(display, window, snapshotProperty, offset, 1 << 20, False,
                                   AnyPropertyType, &type, &format, &count, &after,
                                   &data) != Success ||
                type == None) {
                return std::nullopt;
            }
            out.encoding = atomName(type);
            out.unitBits = format;
            std::size_t size = count * unitSize(format);
            if (data) {
                out.data.insert(out.data.end(), data, data + size);
                XFree(data);
            }
            if (out.data.size() > kMaxSnapshotBytes) return std::nullopt;
            // Offsets count 32-bit units of the data as the server holds it.
            offset += static_cast<long>(count * static_cast<unsigned long>(format) / 32);
            if (after == 0) break;
        }
        XDeleteProperty(display, window, snapshotProperty);
        return out;
    }

    std::optional<Representation> convert(Atom target, Clock::time_point snapshotDeadline) {
        auto deadline = std::min(Clock::now() + kConversionLimit, snapshotDeadline);
        XDeleteProperty(display, window, snapshotProperty);
        XConvertSelection(display, clipboard, target, snapshotProperty, window, CurrentTime);
        XEvent found;
        auto notified = [this, target](const XEvent& e) {
            return e.type == SelectionNotify && e.xselection.requestor == window &&
                   e.xselection.target == target;
        };
        if (!waitFor(notified, found, deadline) || found.xselection.property == None) {
            return std::nullopt;
        }
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* peek = nullptr;
        XGetWindowProperty(display, window, snapshotProperty, 0, 0, False, AnyPropertyType, &type,
                           &format, &count, &after, &peek);
        if (peek) XFree(peek);
        if (type != incr) return readProperty();
        return receiveIncrementally(deadline);
    }

    std::optional<Representation> receiveIncrementally(Clock::time_point deadline) {
        // Deleting the INCR marker asks the owner for the first piece.
        XDeleteProperty(display, window, snapshotProperty);
        XFlush(display);
        Representation whole;
        auto newValue = [this](const XEvent& e) {
            return e.type == PropertyNotify && e.xproperty.window == window &&
                   e.xproperty.atom == snapshotProperty && e.xproperty.state == PropertyNewValue;
        };
        while (true) {
            XEvent found;
            // Each piece gets its own time limit: a large picture arrives in many pieces.
            if (!waitFor(newValue, found, std::max(deadline, Clock::now() + kConversionLimit))) {
                return std::nullopt;
            }
            auto piece = readProperty();
            if (!piece) return std::nullopt;
            if (piece->data.empty()) return whole;
            whole.encoding = piece->encoding;
            whole.unitBits = piece->unitBits;
            whole.data.insert(whole.data.end(), piece->data.begin(), piece->data.end());
            if (whole.data.size() > kMaxSnapshotBytes) return std::nullopt;
            XFlush(display);
        }
    }

    PasteboardSnapshot snapshot() {
        PasteboardSnapshot result;
        if (!display || connection->isBroken()) return result;
        if (owned && XGetSelectionOwner(display, clipboard) == window) {
            if (!owned->empty()) result.items.push_back(*owned);
            return result;
        }
        if (XGetSelectionOwner(display, clipboard) == None) return result;
        auto deadline = Clock::now() + kSnapshotLimit;
        PasteboardSnapshot::Item item;
        std::vector<Atom> offered;
        if (auto list = convert(targets, deadline); list && list->unitBits == 32) {
            const auto* atoms = reinterpret_cast<const long*>(list->data.data());
            for (std::size_t i = 0; i < list->data.size() / sizeof(long); ++i) {
                offered.push_back(static_cast<Atom>(atoms[i]));
            }
        } else {
            offered.push_back(utf8String);  // an owner without TARGETS: at least its text
        }
        std::size_t total = 0;
        for (Atom target : offered) {
            auto name = atomName(target);
            if (name.empty() || isMeta(name)) continue;
            if (std::any_of(item.begin(), item.end(), [&](auto& r) { return r.type == name; }))
                continue;
            if (Clock::now() > deadline) break;
            auto representation = convert(target, deadline);
            if (!representation) continue;
            total += representation->data.size();
            if (total > kMaxSnapshotBytes) break;
            representation->type = name;
            item.push_back(std::move(*representation));
        }
        if (!item.empty()) result.items.push_back(std::move(item));
        return result;
    }

    // ---- owning the clipboard ----

    void own(PasteboardSnapshot::Item item) {
        ownsWrittenText = false;
        if (!display || connection->isBroken()) return;
        outgoing.clear();
        owned = std::move(item);
        ownedSince = serverTime();
        XSetSelectionOwner(display, clipboard, window, ownedSince);
        if (XGetSelectionOwner(display, clipboard) != window) {
            log(LogLevel::warning, "clipboard", "could not take the clipboard");
            owned.reset();
        }
        XFlush(display);
    }

    void disown() {
        ownsWrittenText = false;
        if (!display || connection->isBroken()) return;
        outgoing.clear();
        owned.reset();
        if (XGetSelectionOwner(display, clipboard) == window) {
            XSetSelectionOwner(display, clipboard, None, CurrentTime);
        }
        XFlush(display);
    }

    void ownText(const std::string& text) {
        own(textItem(text));
        ++textWrites;
        ownsWrittenText = owned.has_value();
    }

    // Runs `taken` once the text of the last write has been read in full (at once if it has).
    void awaitTaken(std::function<void()> taken) {
        if (textWrites != 0 && takenWrite == textWrites) return taken();
        onTaken = std::move(taken);
        onTakenWrite = textWrites;
    }

    void textTaken(std::uint64_t write) {
        takenWrite = write;
        if (onTaken && onTakenWrite == write) std::exchange(onTaken, nullptr)();
    }

    // A clipboard manager fetches each new text as soon as it is offered; only a read by the
    // application that has the keyboard focus means the paste arrived. Without a focus window to
    // compare with, any reader counts.
    bool fromFocusedApplication(Window requestor) {
        Window focus = None;
        int revertTo = 0;
        XGetInputFocus(display, &focus, &revertTo);
        if (focus == None || focus == PointerRoot) return true;
        return (focus & clientBits) == (requestor & clientBits);
    }

    PasteboardSnapshot::Item textItem(const std::string& text) {
        PasteboardSnapshot::Item item{
            {"UTF8_STRING", "UTF8_STRING", 8, bytes(text)},
            {"text/plain;charset=utf-8", "text/plain;charset=utf-8", 8, bytes(text)},
            {"TEXT", "UTF8_STRING", 8, bytes(text)}};
        if (auto narrow = latin1(text)) item.push_back({"STRING", "STRING", 8, bytes(*narrow)});
        return item;
    }

    void reply(const XSelectionRequestEvent& request, Atom property) {
        XEvent notify{};
        notify.xselection.type = SelectionNotify;
        notify.xselection.display = request.display;
        notify.xselection.requestor = request.requestor;
        notify.xselection.selection = request.selection;
        notify.xselection.target = request.target;
        notify.xselection.property = property;
        notify.xselection.time = request.time;
        XSendEvent(display, request.requestor, False, NoEventMask, &notify);
    }

    void serve(const XSelectionRequestEvent& request) {
        x11::ErrorTrap trap(display);  // the requestor may vanish meanwhile
        Atom property = request.property != None ? request.property : request.target;
        if (request.selection != clipboard || !owned || request.target == multiple) {
            reply(request, None);
            return;
        }
        if (request.target == targets) {
            std::vector<long> list{static_cast<long>(targets), static_cast<long>(timestamp)};
            for (const auto& r : *owned) list.push_back(static_cast<long>(atom(r.type)));
            XChangeProperty(display, request.requestor, property, XA_ATOM, 32, PropModeReplace,
                            reinterpret_cast<unsigned char*>(list.data()),
                            static_cast<int>(list.size()));
            reply(request, property);
            return;
        }
        if (request.target == timestamp) {
            long time = static_cast<long>(ownedSince);
            XChangeProperty(display, request.requestor, property, XA_INTEGER, 32, PropModeReplace,
                            reinterpret_cast<unsigned char*>(&time), 1);
            reply(request, property);
            return;
        }
        auto name = atomName(request.target);
        auto it =
            std::find_if(owned->begin(), owned->end(), [&](auto& r) { return r.type == name; });
        if (it == owned->end()) {
            reply(request, None);
            return;
        }
        Atom type = atom(it->encoding);
        // Every target of a written text is a text target.
        std::uint64_t textWrite =
            ownsWrittenText && fromFocusedApplication(request.requestor) ? textWrites : 0;
        if (it->data.size() > kIncrementalChunk) {
            XSelectInput(display, request.requestor, PropertyChangeMask);
            long size = static_cast<long>(it->data.size());
            XChangeProperty(display, request.requestor, property, incr, 32, PropModeReplace,
                            reinterpret_cast<unsigned char*>(&size), 1);
            outgoing.push_back(
                {request.requestor, property, type, it->unitBits, it->data, 0, textWrite});
            reply(request, property);
            return;
        }
        XChangeProperty(display, request.requestor, property, type, it->unitBits, PropModeReplace,
                        it->data.data(),
                        static_cast<int>(it->data.size() / unitSize(it->unitBits)));
        reply(request, property);
        // The whole text is in the requestor's property now, where a restore cannot reach it.
        if (textWrite != 0 && trap.sync() == Success) textTaken(textWrite);
    }

    void continueOutgoing(const XPropertyEvent& event) {
        auto it = std::find_if(outgoing.begin(), outgoing.end(), [&](const Outgoing& o) {
            return o.requestor == event.window && o.property == event.atom;
        });
        if (it == outgoing.end()) return;
        x11::ErrorTrap trap(display);
        std::size_t unit = unitSize(it->format);
        std::size_t size = std::min(kIncrementalChunk / unit * unit, it->data.size() - it->offset);
        XChangeProperty(display, it->requestor, it->property, it->type, it->format, PropModeReplace,
                        it->data.data() + it->offset, static_cast<int>(size / unit));
        it->offset += size;
        // The empty piece after the last one ends the transfer: the requestor deleted the
        // property holding the last piece, so it has read everything.
        if (size == 0) {
            XSelectInput(display, it->requestor, NoEventMask);
            auto textWrite = it->textWrite;
            outgoing.erase(it);
            if (textWrite != 0) textTaken(textWrite);
        }
        XFlush(display);
    }
};

X11Clipboard::X11Clipboard(MainQueue& main) : main_(main), owner_(std::make_unique<Owner>()) {
    if (!owner_->start()) owner_.reset();
}

X11Clipboard::~X11Clipboard() {
    if (owner_) owner_->stop();
}

void X11Clipboard::takeSnapshot(std::function<void(PasteboardSnapshot)> done) {
    if (!owner_) return main_.post([done] { done({}); });
    owner_->submit([this, done] {
        auto snapshot = owner_->snapshot();
        main_.post([done, snapshot = std::move(snapshot)]() mutable { done(std::move(snapshot)); });
    });
}

void X11Clipboard::writeText(std::string text, std::function<void()> done) {
    if (!owner_) return main_.post(done);
    owner_->submit([this, text = std::move(text), done] {
        owner_->ownText(text);
        main_.post(done);
    });
}

void X11Clipboard::restore(PasteboardSnapshot snapshot, std::function<void()> done) {
    if (!owner_) return main_.post(done);
    owner_->submit([this, snapshot = std::move(snapshot), done]() mutable {
        if (snapshot.isEmpty()) {
            owner_->disown();
        } else {
            owner_->own(std::move(snapshot.items.front()));
        }
        main_.post(done);
    });
}

void X11Clipboard::whenTaken(std::chrono::milliseconds bound, std::function<void(bool)> done) {
    // Settled once, on the main queue, by the read or by the bound, whichever comes first.
    struct Wait {
        std::function<void(bool)> done;
        TaskId bound = 0;
        void settle(bool taken) {
            if (auto call = std::exchange(done, nullptr)) call(taken);
        }
    };
    auto wait = std::make_shared<Wait>(Wait{std::move(done)});
    if (!owner_) return main_.post([wait] { wait->settle(false); });
    wait->bound = main_.postAfter(bound, [wait] { wait->settle(false); });
    owner_->submit([this, wait] {
        owner_->awaitTaken([&main = main_, wait] {
            main.post([&main, wait] {
                main.cancel(wait->bound);
                wait->settle(true);
            });
        });
    });
}

}  // namespace kestrune
