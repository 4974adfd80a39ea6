#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "KestruneRemoteKit/Support/Published.hpp"

namespace kestrune {

class UserDefaults;

// What the welcome window shows and records: whether typing and key watching work in this
// session, the last dictated text while the window is open, and whether the window was seen.
// Main queue only.
class WelcomeModel {
  public:
    // Set once the window has been closed; it then never opens by itself again.
    static constexpr std::string_view kWelcomeShownKey = "welcomeShown";
    // The page about the product, encoded in the QR code of the phone step.
    static constexpr std::string_view kProductPageURL = "https://murrelo.example/";

    struct Dependencies {
        std::shared_ptr<UserDefaults> defaults;
        // True when this session lets us type and watch keys (on X11: a display with XTest and
        // XInput 2).
        std::function<bool()> isTrusted;
        // True when the session is Wayland without an X display, which needs another remedy.
        std::function<bool()> isWaylandOnly;
        // What keeps dictation in the chosen language from working and what to do about it, in
        // the interface language; none when a recognizer serves the language.
        std::function<std::optional<std::string>()> speechHint;
    };

    explicit WelcomeModel(Dependencies dependencies);

    // At launch, only for a configuration that never saw the window and has no push-to-talk key
    // stored: people who chose a key, and those whose earlier edition's settings were imported,
    // are past the introduction.
    static bool shouldShowOnLaunch(const UserDefaults& defaults);

    const Published<bool>& accessibilityGranted() const { return accessibilityGranted_; }
    const Published<std::optional<std::string>>& lastTranscript() const { return lastTranscript_; }
    // What to do to make typing work, once the user asked to check again and it still does not
    // (the text's key in the interface's tables): none while it works or before that question.
    const Published<std::optional<std::string>>& remedy() const { return remedy_; }
    // Shown under the speech language, before a try can fail: none while dictation can work.
    const Published<std::optional<std::string>>& speechHint() const { return speechHint_; }

    // Asks the session again; observers hear only of a change.
    void refreshAccessibility();
    // The "Check Again" button: asks again, and explains what to do when typing still cannot work.
    void checkAgain();
    // After the language or the recognizer's settings changed, or the interface language did;
    // observers hear only of a change.
    void refreshSpeechHint();
    // A dictation's final text while the window is open (instead of typing it).
    void showTranscript(std::string text);
    // The window closed: it is not shown by itself again, and the shown text is forgotten.
    void windowClosed();

  private:
    Dependencies dependencies_;
    Published<bool> accessibilityGranted_;
    Published<std::optional<std::string>> lastTranscript_{std::nullopt};
    Published<std::optional<std::string>> remedy_{std::nullopt};
    Published<std::optional<std::string>> speechHint_;
};

}  // namespace kestrune
