#include "Kestrune/phone/images/ReceivedImageDelivery.hpp"

#include <deque>
#include <set>
#include <system_error>

#include "Kestrune/paste/Pasteboard.hpp"
#include "Kestrune/paste/SerialPasteQueue.hpp"
#include "Kestrune/phone/images/ImageFileSaver.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "KestruneRemoteKit/Support/SerialQueue.hpp"

namespace kestrune {

namespace {

std::string_view view(const Bytes& bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

std::optional<ImageFormat> formatOfType(std::string_view type) {
    for (ImageFormat format : {ImageFormat::jpeg, ImageFormat::png, ImageFormat::heic}) {
        if (ClipboardImage::mimeType(format) == type) return format;
    }
    return std::nullopt;
}

void removeFile(const std::filesystem::path& file) {
    std::error_code ignored;
    std::filesystem::remove(file, ignored);
}

// A picture waiting for its save folder.
struct Arrival {
    Bytes data;
    bool save = false;
    std::int64_t epoch = 0;
    ReceivedImageDelivery::Done done;

    void answer(ImageOutcome outcome) {
        if (!done) return;
        auto reply = std::move(done);
        done = nullptr;
        reply(std::move(outcome));
    }
};

// A picture inside the paste queue, from its check to the clipboard.
struct Run {
    Bytes data;
    bool save = false;
    std::filesystem::path folder;
    std::int64_t epoch = 0;
    std::function<bool()> isStale;
    SerialPasteQueue::Done finished;  // the paste queue's completion, called once
    std::optional<std::string> saved;
    std::optional<std::string> savedIn;

    bool answered() const { return !finished; }
};

}  // namespace

// Its continuations hold it weakly rather than through a Lifetime: when it is gone, some still have
// work of their own (answering the paste queue `internal`, deleting a file already written) that a
// Lifetime guard would skip.
struct ReceivedImageDelivery::State : std::enable_shared_from_this<State> {
    MainQueue& main;
    SerialPasteQueue& pasteQueue;
    Services services;
    std::unique_ptr<SerialQueue> resolveQueue;
    std::unique_ptr<SerialQueue> workQueue;

    // Cleared when the delivery is torn down, which may happen inside one of its continuations.
    bool alive = true;
    std::int64_t epoch = 0;
    bool finderDeniedNoticeShown = false;
    std::deque<std::shared_ptr<Arrival>> waiting;  // resolutions not started yet, in arrival order
    std::shared_ptr<Arrival> resolving;            // the resolution under way
    std::set<std::shared_ptr<Run>> running;        // deliveries the paste queue has started

    State(MainQueue& m, SerialPasteQueue& q, Services s)
        : main(m), pasteQueue(q), services(std::move(s)) {
        if (!services.resolveOn) {
            resolveQueue = std::make_unique<SerialQueue>("Kestrune.ReceivedImage.resolve");
            services.resolveOn = [queue = resolveQueue.get()](std::function<void()> work) {
                queue->post(std::move(work));
            };
        }
        if (!services.workOn) {
            workQueue = std::make_unique<SerialQueue>("Kestrune.ReceivedImage.deliver");
            services.workOn = [queue = workQueue.get()](std::function<void()> work) {
                queue->post(std::move(work));
            };
        }
    }

    // ---- resolutions, one at a time in arrival order ----

    void startNextResolution() {
        resolving.reset();
        // Pictures from before a stop need no folder: the file manager is not asked for them.
        while (!waiting.empty() && waiting.front()->epoch != epoch) {
            auto stale = std::move(waiting.front());
            waiting.pop_front();
            stale->answer({RemoteError::cancelled, std::nullopt, std::nullopt});
        }
        if (waiting.empty()) return;
        resolving = std::move(waiting.front());
        waiting.pop_front();
        std::weak_ptr<State> weak = shared_from_this();
        auto arrival = resolving;
        if (!arrival->save) {
            main.post([weak, arrival] {
                if (auto self = weak.lock()) self->resolved(arrival, std::nullopt);
            });
            return;
        }
        auto preferences =
            services.preferences ? services.preferences() : ImageSaveLocation::Preferences{};
        services.resolveOn([weak, arrival, preferences = std::move(preferences),
                            ask = services.askFileManager, isUsable = services.isUsable,
                            main = &main] {
            const auto askOrNone = [&ask] {
                return ask ? ask() : FileManagerFolder::Answer::none();
            };
            auto resolution = ImageSaveLocation::resolve(preferences, askOrNone, isUsable);
            main->post([weak, arrival, resolution = std::move(resolution)] {
                if (auto self = weak.lock()) self->resolved(arrival, resolution);
            });
        });
    }

    void resolved(const std::shared_ptr<Arrival>& arrival,
                  std::optional<ImageSaveLocation::Resolution> resolution) {
        if (!alive || arrival != resolving) return;
        if (arrival->epoch != epoch) {
            arrival->answer({RemoteError::cancelled, std::nullopt, std::nullopt});
        } else {
            if (resolution) noteResolution(*resolution);
            enqueue(*arrival, resolution ? resolution->folder : std::filesystem::path());
        }
        startNextResolution();
    }

    // Told once per run of refusals, so a stream of pictures does not bury the user in notices.
    void noteResolution(const ImageSaveLocation::Resolution& resolution) {
        if (!resolution.finderDenied) {
            finderDeniedNoticeShown = false;
            return;
        }
        if (finderDeniedNoticeShown) return;
        finderDeniedNoticeShown = true;
        if (!services.presentAlert) return;
        services.presentAlert(
            localized("Can’t see your file manager window"),
            localized("Murrelo isn’t allowed to ask your file manager, so images from your phone "
                      "go to the folder chosen in Settings instead. To change that, let Murrelo "
                      "talk to your file manager over the session bus."));
    }

    // ---- delivery inside the paste queue ----

    void enqueue(Arrival& arrival, std::filesystem::path folder) {
        auto run = std::make_shared<Run>();
        run->data = std::move(arrival.data);
        run->save = arrival.save;
        run->folder = std::move(folder);
        run->epoch = arrival.epoch;
        auto done = std::move(arrival.done);
        arrival.done = nullptr;
        std::weak_ptr<State> weak = shared_from_this();
        auto work = [weak, run](std::function<bool()> isStale, SerialPasteQueue::Done finished) {
            auto self = weak.lock();
            if (!self || !self->alive) return finished(RemoteError::internal);
            run->isStale = std::move(isStale);
            run->finished = std::move(finished);
            self->running.insert(run);
            self->prepare(run);
        };
        auto reply = [run, done = std::move(done)](Result<void, RemoteError> delivered) {
            if (!delivered) return done({delivered.error(), std::nullopt, std::nullopt});
            done({std::nullopt, run->saved, run->savedIn});
        };
        pasteQueue.enqueue(std::move(work), std::move(reply));
    }

    bool isCancelled(const Run& run) const {
        return run.epoch != epoch || (run.isStale && run.isStale());
    }

    void finish(const std::shared_ptr<Run>& run, Result<void, RemoteError> outcome) {
        if (run->answered()) return;
        auto finished = std::move(run->finished);
        run->finished = nullptr;
        running.erase(run);
        finished(outcome);
    }

    void prepare(const std::shared_ptr<Run>& run) {
        std::weak_ptr<State> weak = shared_from_this();
        services.workOn([weak, run, main = &main] {
            auto prepared = ClipboardImage::prepare(view(run->data), kMaxPixels);
            main->post([weak, run, prepared = std::move(prepared)]() mutable {
                auto self = weak.lock();
                if (!self || run->answered()) return;
                self->prepared(run, std::move(prepared));
            });
        });
    }

    void prepared(const std::shared_ptr<Run>& run,
                  std::optional<ClipboardImage::Prepared> prepared) {
        if (!prepared) return finish(run, RemoteError::imageInvalid);
        Bytes().swap(run->data);  // the checked picture holds its own copy of the bytes
        if (isCancelled(*run)) return finish(run, RemoteError::cancelled);
        if (!run->save) return commit(run, std::move(*prepared), std::nullopt);

        std::weak_ptr<State> weak = shared_from_this();
        auto picture = std::make_shared<ClipboardImage::Prepared>(std::move(*prepared));
        services.workOn([weak, run, picture, now = services.now(), main = &main] {
            auto name = ImageFileSaver::save(view(picture->original), formatOfType(picture->type),
                                             run->folder, now);
            main->post([weak, run, picture, name = std::move(name)] {
                const auto file = name ? std::optional(run->folder / name.value()) : std::nullopt;
                auto self = weak.lock();
                if (!self || run->answered()) {
                    if (file) removeFile(*file);
                    return;
                }
                if (!name) self->saveFailed(*run, name.error().reason);
                self->saved(run, std::move(*picture), file);
            });
        });
    }

    // The phone hears `imageSaveFailed`; the user, who may not be looking at the phone, is told
    // where and why (a full disk, a folder that cannot be made).
    void saveFailed(const Run& run, const std::string& reason) {
        if (!services.presentAlert || isCancelled(run)) return;
        services.presentAlert(
            localized("Couldn’t save the picture from your phone"),
            localizedFormat("It could not be saved in %s: %s", {run.folder.string(), reason}));
    }

    void saved(const std::shared_ptr<Run>& run, ClipboardImage::Prepared picture,
               std::optional<std::filesystem::path> file) {
        if (!file) return finish(run, RemoteError::imageSaveFailed);
        if (isCancelled(*run)) {
            removeFile(*file);
            return finish(run, RemoteError::cancelled);
        }
        commit(run, std::move(picture), std::move(file));
    }

    void commit(const std::shared_ptr<Run>& run, ClipboardImage::Prepared picture,
                std::optional<std::filesystem::path> file) {
        std::weak_ptr<State> weak = shared_from_this();
        auto committed = [weak, run, file,
                          home = services.home](Result<void, RemoteError> onClipboard) {
            auto self = weak.lock();
            if (!onClipboard || !self || run->answered()) {
                if (file) removeFile(*file);
                if (self) {
                    self->finish(run, onClipboard ? RemoteError::internal : onClipboard.error());
                }
                return;
            }
            if (file) {
                run->saved = file->filename().string();
                run->savedIn = ImageFileSaver::displayPath(run->folder, home);
            }
            self->finish(run, {});
        };
        if (!services.commitImage) return committed(RemoteError::internal);
        services.commitImage(std::move(picture), std::move(committed));
    }

    // ---- teardown ----

    void shutDown() {
        alive = false;
        // Joining the queues lets work already running post its result; what never started is
        // dropped, so every picture still in flight is answered here.
        resolveQueue.reset();
        workQueue.reset();
        auto waitingNow = std::move(waiting);
        waiting.clear();
        for (auto& arrival : waitingNow) arrival->answer({RemoteError::internal, {}, {}});
        if (resolving) resolving->answer({RemoteError::internal, {}, {}});
        resolving.reset();
        auto runningNow = running;
        for (const auto& run : runningNow) finish(run, RemoteError::internal);
    }
};

ReceivedImageDelivery::ReceivedImageDelivery(MainQueue& main, SerialPasteQueue& pasteQueue,
                                             Services services)
    : state_(std::make_shared<State>(main, pasteQueue, std::move(services))) {}

ReceivedImageDelivery::~ReceivedImageDelivery() {
    state_->shutDown();
}

void ReceivedImageDelivery::receiveImage(Bytes data, bool save, Done done) {
    auto arrival = std::make_shared<Arrival>();
    arrival->data = std::move(data);
    arrival->save = save;
    arrival->epoch = state_->epoch;
    arrival->done = std::move(done);
    state_->waiting.push_back(std::move(arrival));
    if (!state_->resolving) state_->startNextResolution();
}

void ReceivedImageDelivery::cancelPending() {
    ++state_->epoch;
}

std::int64_t ReceivedImageDelivery::imageEpoch() const {
    return state_->epoch;
}

// ---- the clipboard write ----

namespace {

PasteboardSnapshot imageContents(const ClipboardImage::Prepared& picture) {
    PasteboardSnapshot contents;
    contents.items.push_back({{picture.type, picture.type, 8, picture.original},
                              {std::string(ClipboardImage::kTiffType),
                               std::string(ClipboardImage::kTiffType), 8, picture.tiff}});
    return contents;
}

// The clipboard layer has no failure of its own to report; reading back what it now serves tells
// whether the write took (no display, or another client holding on to the selection).
bool serves(const PasteboardSnapshot& now, const PasteboardSnapshot& written) {
    if (now.items.empty() || written.items.empty()) return false;
    for (const auto& wanted : written.items.front()) {
        bool found = false;
        for (const auto& offered : now.items.front()) {
            if (offered.type == wanted.type && offered.data == wanted.data) found = true;
        }
        if (!found) return false;
    }
    return true;
}

}  // namespace

ReceivedImageDelivery::CommitImage clipboardImageCommit(Pasteboard& pasteboard) {
    return [&pasteboard](ClipboardImage::Prepared picture,
                         std::function<void(Result<void, RemoteError>)> finished) {
        auto written = std::make_shared<PasteboardSnapshot>(imageContents(picture));
        pasteboard.takeSnapshot([&pasteboard, written, finished](PasteboardSnapshot previous) {
            auto before = std::make_shared<PasteboardSnapshot>(std::move(previous));
            pasteboard.restore(*written, [&pasteboard, written, before, finished] {
                pasteboard.takeSnapshot(
                    [&pasteboard, written, before, finished](PasteboardSnapshot now) {
                        if (serves(now, *written)) return finished({});
                        pasteboard.restore(std::move(*before),
                                           [finished] { finished(RemoteError::imageTooLarge); });
                    });
            });
        });
    };
}

}  // namespace kestrune
