#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrune::testing {

// A receiving application started for a test (the Qt receiver or the GTK script): talks over
// its standard input and output, one command and one answer line at a time.
class ReceiverProcess {
  public:
    static std::unique_ptr<ReceiverProcess> start(std::vector<std::string> argv);
    static std::unique_ptr<ReceiverProcess> startQt();
    static std::unique_ptr<ReceiverProcess> startGtk(const std::string& mode = "text");
    ReceiverProcess(ReceiverProcess&& other) noexcept;
    ~ReceiverProcess();

    unsigned long window() const { return window_; }
    std::string ask(const std::string& command);
    // The receiver's text (decoded from hex).
    std::string text();
    // Polls the text until it equals `expected`, stops being a beginning of it, or `limit`
    // passes; returns the last text seen.
    std::string waitForText(const std::string& expected, std::chrono::milliseconds limit);
    // Gives the receiver's window the keyboard focus and waits until the server reports it.
    bool focus();
    // Waits until the receiver says its window is active with the keyboard in its editor (under
    // Wayland, where the compositor alone gives the focus).
    bool waitUntilFocused(std::chrono::milliseconds limit);

  private:
    ReceiverProcess() = default;
    pid_t pid_ = -1;
    FILE* in_ = nullptr;
    FILE* out_ = nullptr;
    unsigned long window_ = 0;
};

std::string fromHex(const std::string& hex);

// Input as the user's devices would give it: XTest events that this process did not mark as its
// own typing. Keycodes are X keycodes.
void fakeKey(int keycode, bool down);
void fakeButton(int button);

// Whether any client owns the CLIPBOARD selection.
bool clipboardHasOwner();

// Empty when equal; otherwise where two texts first differ, with a little context.
std::string firstDifference(const std::string& expected, const std::string& actual);

}  // namespace kestrune::testing
