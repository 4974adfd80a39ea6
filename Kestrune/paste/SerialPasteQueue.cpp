#include "Kestrune/paste/SerialPasteQueue.hpp"

#include <deque>
#include <optional>

namespace kestrune {

// Outlives the queue on purpose: each hop to the main queue holds it, so that after the queue is
// gone the running item still finishes and every waiting one is answered `internal`, in order.
// `alive` tells that the queue is gone; a Lifetime guard would drop those answers instead.
struct SerialPasteQueue::State : std::enable_shared_from_this<State> {
    struct Item {
        // The phones' generation it belongs to; none for dictated text, which no generation
        // cancels.
        std::optional<std::int64_t> generation;
        Work work;
        Done done;
    };

    MainQueue& main;
    Paste paste;
    bool alive = true;
    std::int64_t generation = 0;
    std::map<std::int64_t, int> pendingByGeneration;
    std::deque<Item> dictated;
    std::deque<Item> phones;
    bool running = false;

    State(MainQueue& m, Paste p) : main(m), paste(std::move(p)) {}

    void finished(std::optional<std::int64_t> g) {
        if (!g) return;
        auto it = pendingByGeneration.find(*g);
        int remaining = (it == pendingByGeneration.end() ? 1 : it->second) - 1;
        if (remaining <= 0) {
            if (it != pendingByGeneration.end()) pendingByGeneration.erase(it);
        } else {
            it->second = remaining;
        }
    }

    bool isStale(std::optional<std::int64_t> g) const { return !alive || (g && generation != *g); }

    void startNext() {
        auto& lane = dictated.empty() ? phones : dictated;
        running = !lane.empty();
        if (!running) return;
        Item item = std::move(lane.front());
        lane.pop_front();
        if (!alive) {
            if (item.done) item.done(RemoteError::internal);
            return scheduleNext();
        }
        if (isStale(item.generation)) {
            if (item.done) item.done(RemoteError::cancelled);
            finished(item.generation);
            return scheduleNext();
        }
        std::weak_ptr<State> weak = shared_from_this();
        auto g = item.generation;
        auto isStaleNow = [weak, g] {
            auto self = weak.lock();
            return !self || self->isStale(g);
        };
        auto reported = std::make_shared<bool>(false);
        auto self = shared_from_this();
        item.work(isStaleNow, [self, g, reported,
                               done = std::move(item.done)](Result<void, RemoteError> result) {
            if (*reported) return;
            *reported = true;
            if (done) done(result);
            self->finished(g);
            self->scheduleNext();
        });
    }

    // The next item starts from the main queue, never inside the previous item's completion.
    void scheduleNext() {
        running = true;
        auto self = shared_from_this();
        main.post([self] { self->startNext(); });
    }

    void add(std::deque<Item>& lane, Item item) {
        lane.push_back(std::move(item));
        if (!running) scheduleNext();
    }

    Work pasteOf(std::string text) {
        std::weak_ptr<State> weak = shared_from_this();
        return [weak, text = std::move(text)](std::function<bool()>, Done finished) {
            auto self = weak.lock();
            if (!self || !self->paste) return finished(RemoteError::internal);
            self->paste(text, [finished] { finished({}); });
        };
    }
};

SerialPasteQueue::SerialPasteQueue(MainQueue& main, Paste paste)
    : state_(std::make_shared<State>(main, std::move(paste))) {}

SerialPasteQueue::~SerialPasteQueue() {
    state_->alive = false;
}

void SerialPasteQueue::enqueue(Work work, Done done) {
    auto& state = *state_;
    auto g = state.generation;
    auto& pending = state.pendingByGeneration[g];
    if (pending >= kMaxPending) {
        if (done) done(RemoteError::busy);
        return;
    }
    ++pending;
    state.add(state.phones, {g, std::move(work), std::move(done)});
}

void SerialPasteQueue::enqueue(std::string text, Done done) {
    enqueue(state_->pasteOf(std::move(text)), std::move(done));
}

void SerialPasteQueue::enqueueDictation(std::string text, Done done) {
    state_->add(state_->dictated,
                {std::nullopt, state_->pasteOf(std::move(text)), std::move(done)});
}

std::int64_t SerialPasteQueue::generation() const {
    return state_->generation;
}

void SerialPasteQueue::bumpGeneration() {
    ++state_->generation;
}

}  // namespace kestrune
