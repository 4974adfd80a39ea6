#pragma once

#include <functional>
#include <vector>

#include <QWidget>

#include "Kestrune/common/AppLanguage.hpp"
#include "Kestrune/dictation/keys/TriggerKey.hpp"
#include "KestruneRemoteKit/Support/Subscription.hpp"

class QComboBox;
class QLabel;
class QPushButton;

namespace kestrune {

class TriggerKeyPicker;
class WelcomeModel;

// The welcome window's content, top to bottom: the tagline; step 1, whether typing and key
// watching work here, with "Check Again"; step 2, the push-to-talk key, the speech language (with
// what to do when no recognizer serves it) and the box where dictated text shows up; step 3, the
// QR code of the product page; "Done". Its texts are those of the
// interface language when it was made: after a language switch the owner makes a new one.
// GUI thread only.
class WelcomeView final : public QWidget {
  public:
    struct Dependencies {
        WelcomeModel& model;
        TriggerKey currentKey;
        std::function<void(TriggerKey)> onTriggerKeyChange;
        AppLanguage currentLanguage;
        std::function<void(AppLanguage)> onLanguageChange;
        // Offered beside what to do when no recognizer serves the language.
        std::function<void()> onOpenSettings;
        std::function<void()> onDone;
        // After a line appeared or went (the remedy under step 1): the window fits itself again.
        std::function<void()> onHeightChange;
    };

    // The content's fixed width, in device-independent pixels.
    static constexpr int kWidth = 520;
    // The QR code's shown side, and the pixels per module it is drawn with before being shown
    // there without smoothing (scanners need crisp module edges).
    static constexpr int kCodeSide = 96;
    static constexpr int kCodeScale = 4;

    explicit WelcomeView(Dependencies dependencies, QWidget* parent = nullptr);

    void setCurrentKey(const TriggerKey& key);
    void setCurrentLanguage(AppLanguage language);

    // For tests and the controller's focus handling.
    QPushButton* checkAgainButton() const { return checkAgain_; }
    QPushButton* doneButton() const { return done_; }
    TriggerKeyPicker* picker() const { return picker_; }
    QComboBox* languagePicker() const { return language_; }
    QLabel* speechHintLabel() const { return speechHint_; }
    QPushButton* openSettingsButton() const { return openSettings_; }
    QLabel* statusLabel() const { return status_; }
    QLabel* remedyLabel() const { return remedy_; }
    QLabel* transcriptLabel() const { return transcript_; }
    QLabel* codeLabel() const { return code_; }

  private:
    void showGranted(bool granted);
    void showTranscript(const std::optional<std::string>& text);

    QPushButton* checkAgain_ = nullptr;
    QPushButton* done_ = nullptr;
    TriggerKeyPicker* picker_ = nullptr;
    QComboBox* language_ = nullptr;
    QLabel* speechHint_ = nullptr;
    QPushButton* openSettings_ = nullptr;
    QLabel* status_ = nullptr;
    QLabel* remedy_ = nullptr;
    QLabel* transcript_ = nullptr;
    QLabel* code_ = nullptr;
    std::vector<Subscription> subscriptions_;
};

}  // namespace kestrune
