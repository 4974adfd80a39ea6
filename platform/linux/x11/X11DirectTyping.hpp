#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "KestruneRemoteKit/Support/MainQueue.hpp"

namespace kestrune::x11 {

class Typist;

// The X11 side of direct typing: the `post` and `pressKey` operations of DirectTextInjector,
// run on the injector's serial queue. The X connection opens on first use; keycodes borrowed
// for characters outside the keymap go back once typing pauses.
class DirectTyping {
  public:
    // Longer than the pause between chunks, so that one text keeps its borrowed keycodes.
    static constexpr std::chrono::milliseconds restoreAfterIdle{200};

    explicit DirectTyping(MainQueue& injectorQueue);
    // Destroy after the injector's queue has stopped (its thread joined): the queue's work uses
    // this object.
    ~DirectTyping();
    DirectTyping(const DirectTyping&) = delete;
    DirectTyping& operator=(const DirectTyping&) = delete;

    void post(const std::string& chunk);
    void pressKey(std::uint16_t virtualKeyCode);

  private:
    Typist* typist();
    void scheduleRestore();

    MainQueue& queue_;
    std::unique_ptr<Typist> typist_;
    bool openFailed_ = false;
    TaskId restoreTask_ = 0;
    std::shared_ptr<DirectTyping*> self_;
};

}  // namespace kestrune::x11
