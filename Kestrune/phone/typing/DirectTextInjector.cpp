#include "Kestrune/phone/typing/DirectTextInjector.hpp"

#include <deque>
#include <mutex>

#include "Kestrune/phone/typing/UnicodeText.hpp"

namespace kestrune {

// Shared: `send` and `press` hand it from the caller's thread to the injector's queue, so it is
// released on whichever thread lets go last. The pause between chunks therefore holds it weakly
// and locks it on the queue, where a Lifetime's check would race with a release elsewhere.
struct DirectTextInjector::State : std::enable_shared_from_this<State> {
    struct Job {
        std::vector<std::string> chunks;  // empty for a key press
        std::optional<std::uint16_t> keyCode;
        Ticket ticket = 0;
        Completion completion;
        std::size_t next = 0;
    };

    MainQueue& queue;
    std::function<void(const std::string&)> post;
    std::function<void(std::uint16_t)> pressKey;

    mutable std::mutex generationLock;
    Ticket generation = 0;

    // Touched on the queue only: jobs run one after another, so a second text waits until the
    // first has been typed completely, gaps included.
    std::deque<Job> jobs;
    bool running = false;

    State(MainQueue& q, std::function<void(const std::string&)> p,
          std::function<void(std::uint16_t)> k)
        : queue(q), post(std::move(p)), pressKey(std::move(k)) {}

    Ticket currentGeneration() const {
        std::lock_guard lock(generationLock);
        return generation;
    }

    void enqueue(Job job) {
        jobs.push_back(std::move(job));
        if (!running) runFront();
    }

    void runFront() {
        running = !jobs.empty();
        if (running) step();
    }

    void finishFront(Result<void, Failure> outcome) {
        auto completion = std::move(jobs.front().completion);
        jobs.pop_front();
        if (completion) completion(outcome);
        runFront();
    }

    void step() {
        Job& job = jobs.front();
        if (currentGeneration() != job.ticket) return finishFront(Failure::cancelled);
        if (job.keyCode) {
            pressKey(*job.keyCode);
            return finishFront({});
        }
        post(job.chunks[job.next++]);
        if (job.next == job.chunks.size()) return finishFront({});
        std::weak_ptr<State> weak = shared_from_this();
        queue.postAfter(kInterval, [weak] {
            if (auto self = weak.lock()) self->step();
        });
    }
};

DirectTextInjector::DirectTextInjector(MainQueue& queue,
                                       std::function<void(const std::string&)> post,
                                       std::function<void(std::uint16_t)> pressKey)
    : state_(std::make_shared<State>(queue, std::move(post), std::move(pressKey))) {}

DirectTextInjector::~DirectTextInjector() = default;

DirectTextInjector::Prepared DirectTextInjector::prepare(std::string_view text) {
    if (unicode::characterCount(text) > kMaxCharacters) return Failure::textTooLong;
    auto sanitized = sanitize(text);
    if (sanitized.empty()) return Failure::empty;
    return sanitized;
}

std::string DirectTextInjector::sanitize(std::string_view text) {
    auto scalars = unicode::decodeUtf8(text);
    std::u32string out;
    out.reserve(scalars.size());
    for (std::size_t i = 0; i < scalars.size(); ++i) {
        char32_t c = scalars[i];
        if (c == U'\r') {
            out.push_back(U' ');
            if (i + 1 < scalars.size() && scalars[i + 1] == U'\n') ++i;
        } else if ((c >= 0x09 && c <= 0x0C) || (c >= 0x1C && c <= 0x1F) || c == 0x85 ||
                   c == 0x2028 || c == 0x2029) {
            out.push_back(U' ');
        } else if (!unicode::isControl(c)) {
            out.push_back(c);
        }
    }
    std::size_t begin = 0;
    std::size_t end = out.size();
    while (begin < end && unicode::isHorizontalWhitespace(out[begin])) ++begin;
    while (end > begin && unicode::isHorizontalWhitespace(out[end - 1])) --end;
    return unicode::encodeUtf8(std::u32string_view(out).substr(begin, end - begin));
}

std::vector<std::string> DirectTextInjector::chunks(std::string_view text, std::size_t limit) {
    std::vector<std::string> result;
    std::u32string current;
    std::size_t currentLength = 0;
    for (const auto& character : unicode::graphemes(unicode::decodeUtf8(text))) {
        std::size_t length = unicode::utf16Length(character);
        if (!current.empty() && currentLength + length > limit) {
            result.push_back(unicode::encodeUtf8(current));
            current.clear();
            currentLength = 0;
        }
        current += character;
        currentLength += length;
    }
    if (!current.empty()) result.push_back(unicode::encodeUtf8(current));
    return result;
}

void DirectTextInjector::send(Prepared prepared, std::optional<Ticket> ticket,
                              Completion completion) {
    auto state = state_;
    if (!prepared.ok()) {
        state->queue.post([completion = std::move(completion), failure = prepared.error()] {
            if (completion) completion(failure);
        });
        return;
    }
    Ticket fixed = ticket.value_or(state->currentGeneration());
    state->queue.post([state, fixed, text = std::move(prepared).value(),
                       completion = std::move(completion)]() mutable {
        State::Job job;
        job.chunks = chunks(text);
        job.ticket = fixed;
        job.completion = std::move(completion);
        if (job.chunks.empty()) {
            // Nothing to type: an empty text reaches here only through a bound secret.
            if (job.completion) job.completion(Failure::empty);
            return;
        }
        state->enqueue(std::move(job));
    });
}

void DirectTextInjector::press(std::uint16_t keyCode, std::optional<Ticket> ticket,
                               Completion completion) {
    auto state = state_;
    Ticket fixed = ticket.value_or(state->currentGeneration());
    state->queue.post([state, fixed, keyCode, completion = std::move(completion)]() mutable {
        State::Job job;
        job.keyCode = keyCode;
        job.ticket = fixed;
        job.completion = std::move(completion);
        state->enqueue(std::move(job));
    });
}

DirectTextInjector::Ticket DirectTextInjector::generation() const {
    return state_->currentGeneration();
}

void DirectTextInjector::bumpGeneration() {
    std::lock_guard lock(state_->generationLock);
    ++state_->generation;
}

}  // namespace kestrune
