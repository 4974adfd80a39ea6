#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "Kestrune/paste/Pasteboard.hpp"

namespace kestrune {

// Puts a finished text into the focused application by pasting: saves the clipboard, writes the
// text, presses the paste shortcut, waits until the application has read the text from the
// clipboard and puts the saved contents back. Runs on the main thread; callers paste one text at
// a time.
class TextInjector {
  public:
    // How long the clipboard keeps the text when no application reads it (the focus was not in a
    // text field). A busy application reads it later than any fixed wait would allow, so the
    // restore waits for the read itself; this bound only keeps the user's clipboard from staying
    // replaced when nobody asks.
    static constexpr std::chrono::milliseconds kTakeBound{2000};

    // The paste shortcut passes through input methods on Linux, so the input source is left as
    // the user set it.
    TextInjector(Pasteboard& pasteboard, std::function<void()> pressPasteShortcut);
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
