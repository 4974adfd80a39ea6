#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Kestrune/phone/controller/ConnectionWindows.hpp"

class QMessageBox;
class QPushButton;

namespace kestrune {

// An alert that never blocks the event loop: a Qt message box with buttons in the given order,
// tagged 0, 1, …, that stays above other windows. The completion runs at most once, with the
// button's tag, or -1 when the prompt is dismissed or its window closed; it is cleared before it
// runs. While shown, the prompt keeps itself alive. GUI thread only.
class NonModalPrompt : public std::enable_shared_from_this<NonModalPrompt> {
  public:
    using Completion = std::function<void(int tag)>;

    // `defaultTag`: the button that Return presses, none when -1.
    static std::shared_ptr<NonModalPrompt> make(const std::string& title,
                                                const std::string& message,
                                                const std::vector<std::string>& buttons,
                                                Completion completion, int defaultTag = -1);
    ~NonModalPrompt();
    NonModalPrompt(const NonModalPrompt&) = delete;
    NonModalPrompt& operator=(const NonModalPrompt&) = delete;

    // Shows the prompt centred on the screen, raised and active.
    void present();
    // Answers -1 and takes the prompt off the screen.
    void dismiss();
    // Takes the prompt off the screen without answering.
    void withdraw();

    QMessageBox* box() const { return box_; }
    QPushButton* button(int tag) const;

    // One "OK" button, no answer.
    static std::shared_ptr<NonModalPrompt> notice(const std::string& title,
                                                  const std::string& message);
    // Deny first (the default, answering Return), Allow second (never the default): true only
    // for Allow.
    static std::shared_ptr<NonModalPrompt> approval(const std::string& title,
                                                    const std::string& message,
                                                    const std::string& allowTitle,
                                                    const std::string& denyTitle,
                                                    std::function<void(bool)> completion);
    // Confirm first, cancel second: true only for the confirm button.
    static std::shared_ptr<NonModalPrompt> confirm(const std::string& title,
                                                   const std::string& message,
                                                   const std::string& confirmTitle,
                                                   const std::string& cancelTitle,
                                                   std::function<void(bool)> completion);

    // The prompts on screen now, oldest first (tests press their buttons).
    static std::vector<std::shared_ptr<NonModalPrompt>> live();

    class Box;

  private:
    NonModalPrompt() = default;
    void finish(int tag);

    QMessageBox* box_ = nullptr;
    std::vector<QPushButton*> buttons_;
    Completion completion_;
};

// The controller's approval prompt on Qt.
ShowApproval qtApprovalPrompts();
// The controller's alerts on Qt: a notice with "OK".
void presentQtAlert(const std::string& title, const std::string& message);

}  // namespace kestrune
