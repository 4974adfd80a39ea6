#include "shell/settings/SettingsWiring.hpp"

#include <QDir>
#include <QFileDialog>
#include <QPointer>

#include "Kestrune/dictation/refine/LLMRefiner.hpp"
#include "Kestrune/dictation/speech/TranscriptionConnectionTest.hpp"
#include "Kestrune/link/PairedDeviceStore.hpp"
#include "Kestrune/phone/controller/RemoteInputController.hpp"
#include "Kestrune/settings/SettingsStore.hpp"
#include "Kestrune/settings/login/LaunchAtLoginModel.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "shell/settings/ApplicationSettings.hpp"

namespace kestrune::settings_wiring {

PhoneSettingsModel::Operations phoneOperations(RemoteInputController& controller,
                                               SettingsDesktop& desktop) {
    return PhoneSettingsModel::Operations{
        .loadDevices = [&controller] { return controller.devices()->devices(); },
        .turnOn = [&controller](bool thenPair) { controller.turnOn(thenPair); },
        .forget = [&controller](const Uuid& id) { return controller.removeDevice(id); },
        .idleTimeoutChanged = [&controller] { controller.idleTimeoutChanged(); },
        .confirm =
            [&desktop](const std::string& title, const std::string& message,
                       std::function<void(bool)> completion) {
                desktop.confirmRemoval(title, message, std::move(completion));
            },
        .alert = [&desktop](const std::string& title,
                            const std::string& message) { desktop.alert(title, message); },
        .pickFolder =
            [](const std::filesystem::path& current,
               std::function<void(std::optional<std::filesystem::path>)> completion) {
                // Free-standing and non-modal: the answer comes back through the completion.
                auto* dialog =
                    new QFileDialog(nullptr, QString(), QString::fromStdString(current.string()));
                dialog->setAttribute(Qt::WA_DeleteOnClose);
                dialog->setFileMode(QFileDialog::Directory);
                dialog->setOption(QFileDialog::ShowDirsOnly, true);
                dialog->setLabelText(QFileDialog::Accept,
                                     QString::fromStdString(localized("Choose")));
                auto shared =
                    std::make_shared<std::function<void(std::optional<std::filesystem::path>)>>(
                        std::move(completion));
                QObject::connect(dialog, &QFileDialog::fileSelected, dialog,
                                 [shared](const QString& folder) {
                                     if (auto done = std::exchange(*shared, {}))
                                         done(std::filesystem::path(folder.toStdString()));
                                 });
                QObject::connect(dialog, &QFileDialog::rejected, dialog, [shared] {
                    if (auto done = std::exchange(*shared, {})) done(std::nullopt);
                });
                dialog->show();
                dialog->raise();
                dialog->activateWindow();
            },
        .primeFileManagerAccess = [&desktop] { desktop.primeFileManagerAccess(); },
    };
}

Subscription followDevices(RemoteInputController& controller, PhoneSettingsModel& model) {
    return controller.observeDevices([&model] { model.reload(); });
}

SettingsWindowController::TestRefinement refinementTest(const LLMRefiner& refiner) {
    return [&refiner](const LLMConfiguration& configuration,
                      std::function<void(Result<void, std::string>)> completion) {
        refiner.testConnection(
            configuration, [completion = std::move(completion)](LLMOutcome outcome) {
                if (outcome) {
                    completion({});
                } else {
                    completion(outcome.error().asKestruneError().localizedDescription());
                }
            });
    };
}

SettingsWindowController::TestTranscription transcriptionTest(std::shared_ptr<HttpClient> client,
                                                              MainQueue& main,
                                                              const SettingsStore& settings) {
    return [client = std::move(client), &main, &settings](
               const OnlineTranscriptionConfiguration& configuration,
               std::function<void(Result<void, std::string>)> completion) {
        testTranscriptionConnection(client, main, configuration,
                                    std::string(rawValue(settings.selectedLanguage().value())),
                                    std::move(completion));
    };
}

std::string folderDisplayName(const std::filesystem::path& folder) {
    const auto name = folder.filename().string();
    if (!name.empty()) return name;
    const auto parent = folder.parent_path().filename().string();
    return parent.empty() ? folder.string() : parent;
}

SettingsWindowController::LaunchAtLogin launchAtLoginControls(LaunchAtLoginModel& model) {
    return SettingsWindowController::LaunchAtLogin{
        .isOn = [&model] { return model.isOn(); },
        .setOn = [&model](bool on) -> Result<void, std::string> {
            model.set(on);
            if (const auto& failure = model.failure()) return *failure;
            return {};
        },
        .isAvailable = [&model] { return model.isSwitchEnabled(); },
        .note = [&model] { return model.note().value_or(std::string()); },
        .refresh = [&model] { model.refresh(); },
    };
}

}  // namespace kestrune::settings_wiring
