#include "platform/linux/wayland/DataControlClipboard.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <wayland-client.h>
#include <wlr-data-control-unstable-v1-client.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "KestruneRemoteKit/Support/Log.hpp"

namespace kestrune {

namespace {

using Clock = std::chrono::steady_clock;
using Representation = PasteboardSnapshot::Representation;

constexpr std::string_view kLogCategory = "DataControlClipboard";
// How long one type of the current owner may take to arrive, and a whole snapshot: an owner that
// does not answer must not hold up the paste for long.
constexpr auto kTypeLimit = std::chrono::milliseconds(1000);
constexpr auto kSnapshotLimit = std::chrono::milliseconds(4000);
// How long a receiver may leave our data unread before we stop serving it: a stuck receiver must
// not stop the clipboard thread.
constexpr auto kServeStallLimit = std::chrono::milliseconds(5000);
// How often to look whether a receiver has read what we wrote: a paste of a sentence is read
// within a few milliseconds.
constexpr auto kDrainPoll = std::chrono::milliseconds(2);
// How long after the last byte was read a paste counts as taken. GTK on Wayland inserts the text
// only once it has handled the end of the data, in its own time, and drops the paste when the
// clipboard changes first; the end cannot be seen from here.
constexpr auto kReadCompletionGrace = std::chrono::milliseconds(150);
// Bounds what a snapshot keeps in memory; larger data is skipped (and missing after the restore).
constexpr std::size_t kMaxSnapshotBytes = 256u << 20;
// The types under which our text is offered: what toolkits and XWayland ask for.
constexpr const char* kTextTypes[] = {"text/plain;charset=utf-8", "text/plain", "UTF8_STRING",
                                      "STRING", "TEXT"};

bool isTextType(std::string_view type) {
    return std::find(std::begin(kTextTypes), std::end(kTextTypes), type) != std::end(kTextTypes);
}

// Reads a pipe to its end within `deadline`; none when it takes longer or grows too large.
std::optional<std::vector<std::uint8_t>> readAll(int fd, Clock::time_point deadline) {
    std::vector<std::uint8_t> data;
    std::uint8_t buffer[65536];
    while (true) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::min(deadline - Clock::now(), Clock::duration(kTypeLimit)));
        pollfd readable{fd, POLLIN, 0};
        if (left.count() <= 0 || poll(&readable, 1, static_cast<int>(left.count())) <= 0) {
            return std::nullopt;
        }
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n == 0) return data;
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            return std::nullopt;
        }
        data.insert(data.end(), buffer, buffer + n);
        if (data.size() > kMaxSnapshotBytes) return std::nullopt;
    }
}

// Whether the reader has taken every byte out of the pipe, waiting while it reads. GTK reads the
// pipe asynchronously and drops what it has not read yet when the clipboard changes, so "written"
// is not "fetched".
bool drained(int fd) {
    const auto deadline = Clock::now() + kServeStallLimit;
    int unread = 0;
    while (ioctl(fd, FIONREAD, &unread) == 0 && unread > 0) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(kDrainPoll);
    }
    return true;
}

// Writes everything to a receiver's pipe; false when it stops reading for too long or closes.
bool writeAll(int fd, const std::vector<std::uint8_t>& data) {
    std::size_t sent = 0;
    while (sent < data.size()) {
        pollfd writable{fd, POLLOUT, 0};
        const int ready = poll(&writable, 1, static_cast<int>(kServeStallLimit.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        const ssize_t n = write(fd, data.data() + sent, data.size() - sent);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return drained(fd);
}

}  // namespace

// The connection and its thread. Everything below runs on that thread, except post() and the
// constructor and destructor.
struct DataControlClipboard::Loop {
    // What we offer while we own the selection: data per type, and which writeText it came from
    // (0 for a restore).
    struct Source {
        zwlr_data_control_source_v1* source = nullptr;
        // In the order offered: a snapshot keeps its owner's order.
        std::vector<std::pair<std::string, std::vector<std::uint8_t>>> data;
        std::uint64_t generation = 0;
    };

    DataControlClipboard& owner;
    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    wl_seat* seat = nullptr;
    zwlr_data_control_manager_v1* manager = nullptr;
    zwlr_data_control_v1* device = nullptr;
    // The offers introduced, with their types: the selection's and any about to replace it.
    std::map<zwlr_data_control_offer_v1*, std::vector<std::string>> offers;
    zwlr_data_control_offer_v1* selection = nullptr;
    std::unique_ptr<Source> ours;
    int wake = -1;
    std::mutex mutex;
    std::deque<std::function<void()>> work;
    bool stopping = false;
    std::thread thread;

    explicit Loop(DataControlClipboard& owner) : owner(owner) {}

    bool connect() {
        display = wl_display_connect(nullptr);
        if (display == nullptr) return false;
        registry = wl_display_get_registry(display);
        wl_registry_add_listener(registry, &registryListener, this);
        wl_display_roundtrip(display);
        if (seat == nullptr || manager == nullptr) return false;
        device = zwlr_data_control_manager_v1_get_data_control(manager, seat);
        zwlr_data_control_v1_add_listener(device, &deviceListener, this);
        // The current selection arrives at once.
        wl_display_roundtrip(display);
        wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        return wake >= 0;
    }

    ~Loop() {
        if (thread.joinable()) {
            post([this] { stopping = true; });
            thread.join();
        }
        dropSource();
        for (auto& [offer, types] : offers) zwlr_data_control_offer_v1_destroy(offer);
        if (device) zwlr_data_control_v1_destroy(device);
        if (manager) zwlr_data_control_manager_v1_destroy(manager);
        if (seat) wl_seat_destroy(seat);
        if (registry) wl_registry_destroy(registry);
        if (display) wl_display_disconnect(display);
        if (wake >= 0) close(wake);
    }

    void post(std::function<void()> step) {
        {
            std::lock_guard lock(mutex);
            work.push_back(std::move(step));
        }
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = write(wake, &one, sizeof one);
    }

    void run() {
        while (!stopping) {
            while (wl_display_prepare_read(display) != 0) wl_display_dispatch_pending(display);
            wl_display_flush(display);
            pollfd fds[2] = {{wl_display_get_fd(display), POLLIN, 0}, {wake, POLLIN, 0}};
            if (poll(fds, 2, -1) < 0 && errno != EINTR) {
                wl_display_cancel_read(display);
                break;
            }
            if ((fds[0].revents & POLLIN) != 0) {
                if (wl_display_read_events(display) < 0) break;
            } else {
                wl_display_cancel_read(display);
            }
            wl_display_dispatch_pending(display);
            if ((fds[1].revents & POLLIN) != 0) runWork();
            if (wl_display_get_error(display) != 0) {
                log(LogLevel::error, kLogCategory, "the compositor closed the connection");
                break;
            }
        }
        // Work posted after the connection broke still completes.
        while (!stopping) {
            pollfd wakeup{wake, POLLIN, 0};
            poll(&wakeup, 1, -1);
            runWork();
        }
    }

    void runWork() {
        std::uint64_t count = 0;
        [[maybe_unused]] const auto read = ::read(wake, &count, sizeof count);
        std::deque<std::function<void()>> steps;
        {
            std::lock_guard lock(mutex);
            steps.swap(work);
        }
        for (auto& step : steps) step();
    }

    bool broken() const { return wl_display_get_error(display) != 0; }

    PasteboardSnapshot snapshot() {
        PasteboardSnapshot snapshot;
        if (broken()) return snapshot;
        PasteboardSnapshot::Item item;
        if (ours) {
            // Asking ourselves through the compositor would wait on this very thread.
            for (const auto& [type, data] : ours->data) item.push_back({type, "", 8, data});
        } else if (selection) {
            const auto deadline = Clock::now() + kSnapshotLimit;
            for (const auto& type : offers[selection]) {
                int pipeFds[2];
                if (pipe2(pipeFds, O_CLOEXEC) != 0) break;
                zwlr_data_control_offer_v1_receive(selection, type.c_str(), pipeFds[1]);
                wl_display_flush(display);
                close(pipeFds[1]);
                auto data = readAll(pipeFds[0], deadline);
                close(pipeFds[0]);
                if (data) item.push_back({type, "", 8, std::move(*data)});
            }
        }
        if (!item.empty()) snapshot.items.push_back(std::move(item));
        return snapshot;
    }

    void offer(std::unique_ptr<Source> source) {
        if (broken()) return;
        source->source = zwlr_data_control_manager_v1_create_data_source(manager);
        zwlr_data_control_source_v1_add_listener(source->source, &sourceListener, this);
        for (const auto& [type, data] : source->data) {
            zwlr_data_control_source_v1_offer(source->source, type.c_str());
        }
        zwlr_data_control_v1_set_selection(device, source->source);
        // The old source goes only once the new one is the selection: destroying the selection's
        // source first would empty the clipboard for a moment, for every client to see.
        dropSource();
        ours = std::move(source);
        wl_display_roundtrip(display);
    }

    void clear() {
        if (broken()) return;
        dropSource();
        zwlr_data_control_v1_set_selection(device, nullptr);
        wl_display_roundtrip(display);
    }

    void dropSource() {
        if (ours && ours->source) zwlr_data_control_source_v1_destroy(ours->source);
        ours.reset();
    }

    static void onGlobal(void* data, wl_registry* registry, std::uint32_t name,
                         const char* interface, std::uint32_t) {
        auto* self = static_cast<Loop*>(data);
        if (std::strcmp(interface, wl_seat_interface.name) == 0 && self->seat == nullptr) {
            self->seat =
                static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
        } else if (std::strcmp(interface, zwlr_data_control_manager_v1_interface.name) == 0) {
            self->manager = static_cast<zwlr_data_control_manager_v1*>(
                wl_registry_bind(registry, name, &zwlr_data_control_manager_v1_interface, 1));
        }
    }
    static void onGlobalRemove(void*, wl_registry*, std::uint32_t) {}
    static constexpr wl_registry_listener registryListener{onGlobal, onGlobalRemove};

    static void onDataOffer(void* data, zwlr_data_control_v1*, zwlr_data_control_offer_v1* offer) {
        auto* self = static_cast<Loop*>(data);
        self->offers[offer];
        zwlr_data_control_offer_v1_add_listener(offer, &offerListener, self);
    }
    static void onSelection(void* data, zwlr_data_control_v1*, zwlr_data_control_offer_v1* offer) {
        auto* self = static_cast<Loop*>(data);
        // The new selection replaces every offer before it.
        for (auto at = self->offers.begin(); at != self->offers.end();) {
            if (at->first == offer) {
                ++at;
                continue;
            }
            zwlr_data_control_offer_v1_destroy(at->first);
            at = self->offers.erase(at);
        }
        self->selection = offer;
    }
    static void onFinished(void* data, zwlr_data_control_v1*) {
        log(LogLevel::error, kLogCategory, "the seat's clipboard went away");
    }
    static constexpr zwlr_data_control_v1_listener deviceListener{onDataOffer, onSelection,
                                                                  onFinished};

    static void onOfferType(void* data, zwlr_data_control_offer_v1* offer, const char* type) {
        static_cast<Loop*>(data)->offers[offer].emplace_back(type);
    }
    static constexpr zwlr_data_control_offer_v1_listener offerListener{onOfferType};

    static void onSend(void* data, zwlr_data_control_source_v1* source, const char* type,
                       std::int32_t fd) {
        auto* self = static_cast<Loop*>(data);
        bool served = false;
        std::uint64_t generation = 0;
        if (self->ours && self->ours->source == source) {
            const auto& offered = self->ours->data;
            auto found = std::find_if(offered.begin(), offered.end(),
                                      [type](const auto& entry) { return entry.first == type; });
            if (found != offered.end()) served = writeAll(fd, found->second);
            generation = self->ours->generation;
        }
        close(fd);
        if (served && generation != 0 && isTextType(type)) {
            DataControlClipboard& owner = self->owner;
            owner.main_.postAfter(kReadCompletionGrace, owner.lifetime_.guard([&owner, generation] {
                owner.taken(generation);
            }));
        }
    }
    static void onCancelled(void* data, zwlr_data_control_source_v1* source) {
        auto* self = static_cast<Loop*>(data);
        if (self->ours && self->ours->source == source) {
            self->dropSource();
        } else {
            zwlr_data_control_source_v1_destroy(source);
        }
    }
    static constexpr zwlr_data_control_source_v1_listener sourceListener{onSend, onCancelled};
};

DataControlClipboard::DataControlClipboard(MainQueue& main)
    : main_(main), loop_(std::make_unique<Loop>(*this)) {
    if (!loop_->connect()) {
        log(LogLevel::error, kLogCategory,
            "no clipboard: the compositor offers no data control (zwlr_data_control_manager_v1)");
        loop_.reset();
        return;
    }
    loop_->thread = std::thread([loop = loop_.get()] { loop->run(); });
}

// The thread stops first: until then it may make guarded continuations from our lifetime.
DataControlClipboard::~DataControlClipboard() {
    loop_.reset();
}

void DataControlClipboard::takeSnapshot(std::function<void(PasteboardSnapshot)> done) {
    if (!loop_) return main_.post([done = std::move(done)] { done({}); });
    loop_->post([this, done = std::move(done)]() mutable {
        main_.post([done = std::move(done), snapshot = loop_->snapshot()]() mutable {
            done(std::move(snapshot));
        });
    });
}

void DataControlClipboard::writeText(std::string text, std::function<void()> done) {
    const auto generation = ++written_;
    if (!loop_) return main_.post(std::move(done));
    // Shared: work posted to the loop is a copyable function.
    auto source = std::make_shared<Loop::Source>();
    const std::vector<std::uint8_t> bytes(text.begin(), text.end());
    for (const char* type : kTextTypes) source->data.emplace_back(type, bytes);
    source->generation = generation;
    loop_->post([this, source, done = std::move(done)] {
        loop_->offer(std::make_unique<Loop::Source>(std::move(*source)));
        main_.post(std::move(done));
    });
}

void DataControlClipboard::restore(PasteboardSnapshot snapshot, std::function<void()> done) {
    if (!loop_) return main_.post(std::move(done));
    loop_->post([this, snapshot = std::move(snapshot), done = std::move(done)]() mutable {
        if (snapshot.isEmpty()) {
            loop_->clear();
        } else {
            auto source = std::make_unique<Loop::Source>();
            for (auto& representation : snapshot.items.front()) {
                source->data.emplace_back(representation.type, std::move(representation.data));
            }
            loop_->offer(std::move(source));
        }
        main_.post(std::move(done));
    });
}

void DataControlClipboard::whenTaken(std::chrono::milliseconds bound,
                                     std::function<void(bool taken)> done) {
    if (fetched_ >= written_ && written_ != 0) {
        return main_.post([done = std::move(done)] { done(true); });
    }
    auto waiter = std::make_shared<std::function<void(bool)>>(std::move(done));
    waiting_.push_back(waiter);
    main_.postAfter(bound, lifetime_.guard([this, waiter] {
        auto at = std::find(waiting_.begin(), waiting_.end(), waiter);
        if (at == waiting_.end()) return;
        waiting_.erase(at);
        (*waiter)(false);
    }));
}

void DataControlClipboard::taken(std::uint64_t generation) {
    fetched_ = std::max(fetched_, generation);
    if (fetched_ < written_) return;
    auto waiting = std::move(waiting_);
    waiting_.clear();
    for (auto& waiter : waiting) (*waiter)(true);
}

}  // namespace kestrune
