#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "KestruneRemoteKit/Protocol/RemoteError.hpp"
#include "KestruneRemoteKit/Support/MainQueue.hpp"
#include "KestruneRemoteKit/Support/Result.hpp"

namespace kestrune {

// Runs pastes strictly one after another on the main thread, each after the previous one has
// completely finished (there is one clipboard to save and restore). Phones' work is counted and
// cancelled by generation and refused when too much of it waits; dictated text has a lane of its
// own that neither touches: it is never refused or cancelled, and it starts before phones' work
// that has not started yet, because the user waits at the keyboard for it.
class SerialPasteQueue {
  public:
    using Done = std::function<void(Result<void, RemoteError>)>;
    // Asynchronous work: gets a probe that tells whether it has become stale (cancelled or the
    // queue gone) and reports its outcome through `finished`, exactly once.
    using Work = std::function<void(std::function<bool()> isStale, Done finished)>;
    // The clipboard paste of one text; `finished` runs once the paste is complete.
    using Paste = std::function<void(const std::string& text, std::function<void()> finished)>;

    // Phones' items queued or running per generation before new ones are refused with `busy`.
    static constexpr int kMaxPending = 16;

    SerialPasteQueue(MainQueue& main, Paste paste);
    ~SerialPasteQueue();
    SerialPasteQueue(const SerialPasteQueue&) = delete;
    SerialPasteQueue& operator=(const SerialPasteQueue&) = delete;

    // All three run on the main thread; `done` runs there too, exactly once.
    // Phones' work and text, in the current generation.
    void enqueue(Work work, Done done);
    void enqueue(std::string text, Done done);
    // Dictated text: fails only with `internal` when the queue goes away before it starts.
    void enqueueDictation(std::string text, Done done);

    std::int64_t generation() const;
    // Cancels every phones' item that has not started; a running one sees itself as stale.
    // Dictated text is not affected.
    void bumpGeneration();

    struct State;

  private:
    std::shared_ptr<State> state_;
};

}  // namespace kestrune
