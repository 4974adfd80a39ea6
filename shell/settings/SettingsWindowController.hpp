#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Kestrune/dictation/keys/TriggerKey.hpp"
#include "Kestrune/dictation/refine/LLMConfiguration.hpp"
#include "Kestrune/dictation/speech/OnlineSpeechEngine.hpp"
#include "Kestrune/hotkey/GlobalHotKey.hpp"
#include "Kestrune/settings/ui/SettingsPane.hpp"
#include "KestruneRemoteKit/Support/Result.hpp"

class QWidget;

namespace kestrune {

class PhoneSettingsModel;
class SettingsStore;
class UserDefaults;

// The settings window: a tab per pane on a toolbar, each pane a column of titled boxes, 560 pixels
// wide and as high as the pane (no higher than the screen: the pane then scrolls), its top edge
// kept when the height changes. It remembers the last
// pane, closes on Escape, is hidden on close and shown again by `show`, and relabels itself when
// the interface language changes. The text fields of the refinement and transcription forms keep
// drafts that are written on Return, on leaving the field, on a tab change, on closing and on
// `commitDrafts` (the application calls it when quitting). GUI thread only.
class SettingsWindowController {
  public:
    // Launch at login as the window needs it; the model behind it reads and writes the autostart
    // entry.
    struct LaunchAtLogin {
        std::function<bool()> isOn;
        // The failure's text when the change did not happen.
        std::function<Result<void, std::string>(bool on)> setOn;
        // False when the switch cannot work here (not running from an installed prefix).
        std::function<bool()> isAvailable;
        // What to tell the user about the current state; empty when nothing.
        std::function<std::string()> note;
        // Reads the state again (the window was shown; the user may have changed it elsewhere).
        std::function<void()> refresh;
    };

    // A connection test: success, or the error's text. The completion runs on the GUI thread.
    using TestRefinement = std::function<void(const LLMConfiguration&,
                                              std::function<void(Result<void, std::string>)>)>;
    using TestTranscription = std::function<void(const OnlineTranscriptionConfiguration&,
                                                 std::function<void(Result<void, std::string>)>)>;

    struct Dependencies {
        SettingsStore& settings;
        // The settings database: the last pane and the interface language are kept here.
        std::shared_ptr<UserDefaults> defaults;
        PhoneSettingsModel& phone;
        LaunchAtLogin launchAtLogin;
        TestRefinement testRefinement;
        TestTranscription testTranscription;
        // The dictation coordinator's trigger-key update.
        std::function<void(TriggerKey)> onTriggerKeyChange;
        std::function<void()> onShowWelcome;
        // True while the shortcut recorder records: the live shortcut is suspended.
        std::function<void(bool)> onHotKeyRecording;
        // Whether size changes happen at once; empty: Qt's effects setting.
        std::function<bool()> reduceMotion;
        // The name the file manager shows for a folder; empty: the folder's own name.
        std::function<std::string(const std::filesystem::path&)> folderDisplayName;
        // The available height of the screen the window is on; empty: asked of Qt.
        std::function<std::optional<int>()> availableScreenHeight;
        // Under Wayland the compositor's own bindings run push-to-talk: the lines to add to its
        // configuration for a trigger key and shortcut. Empty where the key is watched directly
        // (X11).
        std::function<std::string(const TriggerKey&, const std::optional<GlobalHotKey>&)>
            compositorBindings;
    };

    explicit SettingsWindowController(Dependencies dependencies);
    ~SettingsWindowController();
    SettingsWindowController(const SettingsWindowController&) = delete;
    SettingsWindowController& operator=(const SettingsWindowController&) = delete;

    // Builds the window on first use, then shows and raises it.
    void show();
    void showPane(SettingsPane pane);
    std::optional<SettingsPane> currentPane() const;
    // Writes every pending text field draft (the application quits).
    void commitDrafts();
    // New labels and freshly built panes in the interface language; runs by itself after the
    // process-wide language signal.
    void reloadForInterfaceLanguage();

    // The window, once built (tests look inside).
    QWidget* window() const;

    class Impl;

  private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace kestrune
