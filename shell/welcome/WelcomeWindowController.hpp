#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Kestrune/common/AppLanguage.hpp"
#include "Kestrune/dictation/keys/TriggerKey.hpp"
#include "Kestrune/settings/welcome/WelcomeModel.hpp"
#include "KestruneRemoteKit/Support/Subscription.hpp"

class QTimer;
class QWidget;

namespace kestrune {

class ClosingWindow;
class SettingsStore;
class UserDefaults;
class WelcomeView;

// The welcome window: made on first show and reused; shown centred and raised. While it is open,
// final dictation texts go into its box instead of being typed; typing's availability is asked
// again every second; the speech language and whether a recognizer serves it follow the settings.
// Closing it (the close button, "Done" or Escape) records "welcomeShown" and gives dictation
// back. It relabels itself after each interface language change
// ("Kestrune.interfaceLanguageDidChange"). GUI thread only.
class WelcomeWindowController {
  public:
    // A final text's receiver, as the dictation coordinator's setFinalTextOverride takes it.
    using FinalTextReceiver = std::function<void(const std::string&)>;

    struct Dependencies {
        SettingsStore& settings;
        // True when typing and key watching work in this session (x11::isTrusted).
        std::function<bool()> isTrusted;
        // True on a Wayland session without an X display; by default read from the environment.
        std::function<bool()> isWaylandOnly;
        // Hands the coordinator the receiver of final texts on show, an empty one on close
        // (AppCoordinator::setFinalTextOverride).
        std::function<void(FinalTextReceiver)> setFinalTextOverride;
        // The user picked a key: the coordinator stores it and watches it from now on
        // (AppCoordinator::updateTriggerKey), as after a choice in the settings window.
        std::function<void(TriggerKey)> onTriggerKeyChange;
        // What keeps dictation in this language from working and what to do, in the interface
        // language; none when a recognizer serves it (the speech engine selector's answer).
        std::function<std::optional<std::string>(AppLanguage)> speechHint;
        // Opens the settings window, where a recognizer is set up.
        std::function<void()> openSettings;
        // After the window closed, from the event loop (so it may drop this controller).
        std::function<void()> onClose;
    };

    // How often typing's availability is asked again while the window is open.
    static constexpr int kPollMilliseconds = 1000;

    explicit WelcomeWindowController(Dependencies dependencies);
    ~WelcomeWindowController();
    WelcomeWindowController(const WelcomeWindowController&) = delete;
    WelcomeWindowController& operator=(const WelcomeWindowController&) = delete;

    // True exactly for a configuration that never closed the window and has no push-to-talk key
    // stored (after the import of the earlier edition's settings, it has one).
    static bool shouldShowAtLaunch(const UserDefaults& defaults);
    static bool shouldShowAtLaunch(const SettingsStore& settings);

    void show();
    void close();
    bool isVisible() const;
    // Makes the content again in the interface language and fits the window to it.
    void retranslate();

    WelcomeModel& model() { return model_; }
    // The window and its content (for tests); the content is replaced by retranslate().
    QWidget* window() const;
    WelcomeView* view() const { return view_; }

  private:
    void makeView();
    void followSettings();
    void applyLayout();
    void windowClosed();

    Dependencies dependencies_;
    WelcomeModel model_;
    std::unique_ptr<ClosingWindow> window_;
    WelcomeView* view_ = nullptr;
    QTimer* poll_ = nullptr;
    // The settings the window shows, followed while it exists.
    std::vector<Subscription> settingsSubscriptions_;
    Subscription languageSubscription_;
};

}  // namespace kestrune
