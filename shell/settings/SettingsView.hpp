#pragma once

#include <functional>
#include <vector>

#include <QWidget>

#include "Kestrune/settings/ui/SettingsControls.hpp"
#include "KestruneRemoteKit/Support/Subscription.hpp"
#include "shell/settings/SettingsWindowController.hpp"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QVBoxLayout;

namespace kestrune {

// What a pane works with; owned by the window controller, which outlives its panes.
struct SettingsViewContext {
    SettingsWindowController::Dependencies& dependencies;
    SettingsControls::DraftForm& llmDrafts;
    SettingsControls::DraftForm& transcriptionDrafts;
    // The pane's content height changed (the phone list): fit the window, animated or not.
    std::function<void()> contentChanged;
};

// The content of one pane in the interface language of the moment it was built: its sections as
// titled boxes, top to bottom, in keyboard order. Rebuilt, not relabelled, when the language
// changes. GUI thread only.
class SettingsView final : public QWidget {
  public:
    SettingsView(SettingsPane pane, SettingsViewContext context, QWidget* parent = nullptr);
    ~SettingsView() override;

    // The height the pane needs at `width`.
    int fittingHeight(int width) const;
    // Shows the launch-at-login state as the model reads it now, without an old failure.
    void refreshLaunchAtLogin();

  private:
    QWidget* section(SettingsSection section);
    QWidget* pushToTalk();
    QWidget* recognition();
    QWidget* launchAtLogin();
    QWidget* pairedPhones();
    void fillPhoneList();
    QWidget* phoneOptions();
    QWidget* imageDestination();
    QWidget* sendToPhone();
    QWidget* llm();
    QWidget* interfaceLanguage();
    QWidget* welcome();

    // A drafted text field of `form`, committed on Return and on leaving it.
    QLineEdit* draftField(SettingsControls::DraftForm& form, LLMField field,
                          const std::string& placeholder, const std::function<void()>& edited);
    // Tab goes through the controls in the order they are laid out, also after the phone list
    // was rebuilt (new widgets would otherwise come last).
    void restoreTabOrder();
    void updateLLMStatus();
    void testRefinement();
    void updateTranscriptionStatus();
    void testTranscription();

    SettingsViewContext context_;
    QVBoxLayout* column_;
    std::vector<Subscription> subscriptions_;

    QCheckBox* launchAtLogin_ = nullptr;
    QLabel* launchAtLoginNote_ = nullptr;
    QWidget* phoneList_ = nullptr;
    QLabel* folderName_ = nullptr;
    QLabel* llmStatus_ = nullptr;
    QPushButton* llmTest_ = nullptr;
    std::string llmTestResult_;
    bool llmTestSucceeded_ = false;
    QLabel* transcriptionStatus_ = nullptr;
    QPushButton* transcriptionTest_ = nullptr;
    std::string transcriptionTestResult_;
    bool transcriptionTestSucceeded_ = false;
};

}  // namespace kestrune
