#include "Kestrune/phone/settings/PhoneSettingsModel.hpp"

#include <algorithm>

#include "Kestrune/defaults/UserDefaults.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"

namespace kestrune {

namespace {
std::vector<PairedDevice> newestFirst(std::vector<PairedDevice> devices) {
    // Stable, so phones last seen at the same moment keep the store's order.
    std::stable_sort(devices.begin(), devices.end(), [](const auto& a, const auto& b) {
        return a.lastConnectedAt > b.lastConnectedAt;
    });
    return devices;
}
}  // namespace

PhoneSettingsModel::PhoneSettingsModel(std::shared_ptr<UserDefaults> defaults,
                                       Operations operations)
    : defaults_(std::move(defaults)), operations_(std::move(operations)) {
    devices_.set(newestFirst(operations_.loadDevices()));
}

PhoneSettingsModel::~PhoneSettingsModel() = default;

Subscription PhoneSettingsModel::observeChanges(std::function<void()> observer) {
    return changes_.add(std::move(observer));
}

void PhoneSettingsModel::reload() {
    devices_.set(newestFirst(operations_.loadDevices()));
    changes_.notify();
}

void PhoneSettingsModel::turnOnAndPair() {
    operations_.turnOn(true);
}

void PhoneSettingsModel::requestRemoval(const PairedDevice& device) {
    operations_.confirm(
        localizedFormat("Remove “%s”?", {device.name}),
        localized("It will be disconnected now and will have to scan a new code to connect again."),
        lifetime_.guard([this, id = device.id, name = device.name](bool confirmed) {
            if (!confirmed) return;
            if (auto forgotten = operations_.forget(id); !forgotten) {
                operations_.alert(localizedFormat("Could not remove “%s”", {name}),
                                  forgotten.error());
            }
        }));
}

bool PhoneSettingsModel::flag(std::string_view key) const {
    return defaults_->boolean(key).value_or(false);
}

void PhoneSettingsModel::setFlag(std::string_view key, bool on) {
    defaults_->set(key, on);
}

bool PhoneSettingsModel::idleTimeoutEnabled() const {
    return flag(kIdleTimeoutEnabledKey);
}

void PhoneSettingsModel::setIdleTimeoutEnabled(bool on) {
    setFlag(kIdleTimeoutEnabledKey, on);
    operations_.idleTimeoutChanged();
}

ImageSaveLocation::Mode PhoneSettingsModel::imageSaveMode() const {
    return ImageSaveLocation::mode(defaults_->string(ImageSaveLocation::kDestinationKey));
}

void PhoneSettingsModel::setImageSaveMode(ImageSaveLocation::Mode mode) {
    defaults_->set(ImageSaveLocation::kDestinationKey,
                   std::string(ImageSaveLocation::rawValue(mode)));
    if (mode == ImageSaveLocation::Mode::frontFileManagerWindow)
        operations_.primeFileManagerAccess();
    changes_.notify();
}

std::filesystem::path PhoneSettingsModel::imageSaveFolder() const {
    return ImageSaveLocation::storedFolder(defaults_->string(ImageSaveLocation::kFolderKey));
}

void PhoneSettingsModel::chooseImageSaveFolder() {
    operations_.pickFolder(imageSaveFolder(),
                           lifetime_.guard([this](std::optional<std::filesystem::path> folder) {
                               if (!folder) return;
                               defaults_->set(ImageSaveLocation::kFolderKey, folder->string());
                               changes_.notify();
                           }));
}

}  // namespace kestrune
