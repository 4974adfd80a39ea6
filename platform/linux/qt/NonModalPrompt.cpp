#include "platform/linux/qt/NonModalPrompt.hpp"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>

#include <algorithm>

#include "KestruneRemoteKit/L10n/L10n.hpp"

namespace kestrune {

namespace {

// Prompts on screen, kept alive until answered or taken away.
std::vector<std::shared_ptr<NonModalPrompt>>& livePrompts() {
    static std::vector<std::shared_ptr<NonModalPrompt>> prompts;
    return prompts;
}

}  // namespace

// Closing the window or pressing Escape answers -1 instead of Qt's escape-button rules.
class NonModalPrompt::Box final : public QMessageBox {
  public:
    explicit Box(std::function<void()> onClose) : onClose_(std::move(onClose)) {}

  protected:
    void closeEvent(QCloseEvent* event) override {
        event->accept();
        if (onClose_) onClose_();
    }
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
            if (onClose_) onClose_();
            return;
        }
        QMessageBox::keyPressEvent(event);
    }

  private:
    std::function<void()> onClose_;
};

std::shared_ptr<NonModalPrompt> NonModalPrompt::make(const std::string& title,
                                                     const std::string& message,
                                                     const std::vector<std::string>& buttons,
                                                     Completion completion, int defaultTag) {
    std::shared_ptr<NonModalPrompt> prompt(new NonModalPrompt);
    std::weak_ptr<NonModalPrompt> weak = prompt;
    auto* box = new Box([weak] {
        if (auto self = weak.lock()) self->finish(-1);
    });
    prompt->box_ = box;
    prompt->completion_ = std::move(completion);
    box->setWindowTitle(QString::fromStdString(title));
    // Texts may carry what a phone sent (its name): escaped, so that markup shows as typed.
    box->setTextFormat(Qt::RichText);
    box->setText("<b>" + QString::fromStdString(title).toHtmlEscaped() + "</b>");
    box->setInformativeText("<p>" + QString::fromStdString(message).toHtmlEscaped() + "</p>");
    box->setIcon(QMessageBox::NoIcon);
    box->setWindowModality(Qt::NonModal);
    box->setWindowFlag(Qt::WindowStaysOnTopHint, true);
    for (std::size_t tag = 0; tag < buttons.size(); ++tag) {
        auto* button =
            box->addButton(QString::fromStdString(buttons[tag]), QMessageBox::ActionRole);
        const bool isDefault = static_cast<int>(tag) == defaultTag;
        // Only the default button may ever take Return, even when another one has the focus.
        button->setAutoDefault(isDefault);
        button->setDefault(isDefault);
        if (!isDefault && defaultTag >= 0) button->setFocusPolicy(Qt::NoFocus);
        prompt->buttons_.push_back(button);
        QObject::connect(button, &QPushButton::clicked, box, [weak, tag = static_cast<int>(tag)] {
            if (auto self = weak.lock()) self->finish(tag);
        });
    }
    if (defaultTag >= 0 && defaultTag < static_cast<int>(buttons.size())) {
        box->setDefaultButton(prompt->buttons_[static_cast<std::size_t>(defaultTag)]);
    }
    return prompt;
}

NonModalPrompt::~NonModalPrompt() {
    // Deleted later: the box may be inside one of its own signals right now.
    if (box_) box_->deleteLater();
}

QPushButton* NonModalPrompt::button(int tag) const {
    if (tag < 0 || tag >= static_cast<int>(buttons_.size())) return nullptr;
    return buttons_[static_cast<std::size_t>(tag)];
}

void NonModalPrompt::present() {
    auto& prompts = livePrompts();
    if (std::find(prompts.begin(), prompts.end(), shared_from_this()) == prompts.end()) {
        prompts.push_back(shared_from_this());
    }
    box_->adjustSize();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        box_->move(area.center() - QPoint(box_->width() / 2, box_->height() / 2));
    }
    box_->show();
    box_->raise();
    box_->activateWindow();
    if (auto* defaultButton = box_->defaultButton()) defaultButton->setFocus();
}

void NonModalPrompt::finish(int tag) {
    auto keep = shared_from_this();
    auto completion = std::exchange(completion_, {});
    withdraw();
    if (completion) completion(tag);
}

void NonModalPrompt::dismiss() {
    finish(-1);
}

void NonModalPrompt::withdraw() {
    completion_ = nullptr;
    box_->hide();
    auto& prompts = livePrompts();
    prompts.erase(std::remove(prompts.begin(), prompts.end(), shared_from_this()), prompts.end());
}

std::vector<std::shared_ptr<NonModalPrompt>> NonModalPrompt::live() {
    return livePrompts();
}

std::shared_ptr<NonModalPrompt> NonModalPrompt::notice(const std::string& title,
                                                       const std::string& message) {
    return make(title, message, {localized("OK")}, nullptr, 0);
}

std::shared_ptr<NonModalPrompt> NonModalPrompt::approval(const std::string& title,
                                                         const std::string& message,
                                                         const std::string& allowTitle,
                                                         const std::string& denyTitle,
                                                         std::function<void(bool)> completion) {
    return make(
        title, message, {denyTitle, allowTitle},
        [completion = std::move(completion)](int tag) {
            if (completion) completion(tag == 1);
        },
        0);
}

std::shared_ptr<NonModalPrompt> NonModalPrompt::confirm(const std::string& title,
                                                        const std::string& message,
                                                        const std::string& confirmTitle,
                                                        const std::string& cancelTitle,
                                                        std::function<void(bool)> completion) {
    return make(
        title, message, {confirmTitle, cancelTitle},
        [completion = std::move(completion)](int tag) {
            if (completion) completion(tag == 0);
        },
        0);
}

namespace {

class QtApprovalPrompt final : public ApprovalPrompt {
  public:
    explicit QtApprovalPrompt(std::shared_ptr<NonModalPrompt> prompt)
        : prompt_(std::move(prompt)) {}
    ~QtApprovalPrompt() override { prompt_->withdraw(); }
    void dismiss() override { prompt_->dismiss(); }

  private:
    std::shared_ptr<NonModalPrompt> prompt_;
};

}  // namespace

ShowApproval qtApprovalPrompts() {
    return [](ApprovalQuestion question, std::function<void(bool)> answer) {
        auto prompt =
            NonModalPrompt::approval(question.title, question.message, question.allowTitle,
                                     question.denyTitle, std::move(answer));
        prompt->present();
        return std::make_unique<QtApprovalPrompt>(std::move(prompt));
    };
}

void presentQtAlert(const std::string& title, const std::string& message) {
    NonModalPrompt::notice(title, message)->present();
}

}  // namespace kestrune
