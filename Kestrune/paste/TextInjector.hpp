#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "Kestrune/paste/Pasteboard.hpp"
#include "KestruneRemoteKit/Support/MainQueue.hpp"

namespace kestrune {

// Puts a finished text into the focused application by pasting: saves the clipboard, writes the
// text, presses the paste shortcut, waits for the application to read the clipboard and puts the
// saved contents back. Runs on the main thread; callers paste one text at a time.
class TextInjector {
  public:
    // Time the target has to read the clipboard before it is restored (50 ms was enough for Qt
    // and GTK; restoring after 5 ms made them paste the old contents).
    static constexpr std::chrono::milliseconds kPasteWait{180};

    // The paste shortcut passes through input methods on Linux, so the input source is left as
    // the user set it.
    TextInjector(MainQueue& main, Pasteboard& pasteboard, std::function<void()> pressPasteShortcut);
    ~TextInjector();
    TextInjector(const TextInjector&) = delete;
    TextInjector& operator=(const TextInjector&) = delete;

    // `done` runs on the main thread once the clipboard has been restored.
    void inject(std::string text, std::function<void()> done);

    struct State;

  private:
    std::shared_ptr<State> state_;
};

}  // namespace kestrune
