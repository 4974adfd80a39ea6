#include "shell/root/QtDesktop.hpp"

#include <QApplication>

#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "KestruneRemoteKit/Support/SerialQueue.hpp"
#include "platform/linux/gsettings/DesktopPreferences.hpp"
#include "platform/linux/qt/NonModalPrompt.hpp"

namespace kestrune {

QtDesktop::QtDesktop(FileManagerFolder::SerialAsker& fileManager)
    : fileManager_(fileManager),
      priming_(std::make_unique<SerialQueue>("Kestrune.FileManagerPriming")) {}

QtDesktop::~QtDesktop() = default;

void QtDesktop::confirmRemoval(const std::string& title, const std::string& message,
                               std::function<void(bool)> completion) {
    NonModalPrompt::confirm(title, message, localized("Remove"), localized("Cancel"),
                            std::move(completion))
        ->present();
}

void QtDesktop::alert(const std::string& title, const std::string& message) {
    presentQtAlert(title, message);
}

void QtDesktop::primeFileManagerAccess() {
    priming_->post([&fileManager = fileManager_] { fileManager.ask(kPrimingTimeout); });
}

bool QtDesktop::reducesMotion() const {
    // GNOME's own switch first: Qt's effects setting follows it only with a GTK platform theme.
    return linux_desktop::reducesMotion().value_or(!QApplication::isEffectEnabled(Qt::UI_General));
}

}  // namespace kestrune
