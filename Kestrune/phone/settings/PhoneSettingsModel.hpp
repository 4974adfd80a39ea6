#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Kestrune/link/PairedDeviceStore.hpp"
#include "Kestrune/link/server/RemoteInputServer.hpp"
#include "Kestrune/phone/images/ImageSaveLocation.hpp"
#include "KestruneRemoteKit/Support/Lifetime.hpp"
#include "KestruneRemoteKit/Support/Observers.hpp"
#include "KestruneRemoteKit/Support/Published.hpp"
#include "KestruneRemoteKit/Support/Result.hpp"

namespace kestrune {

class UserDefaults;

// Phone Connection as the settings window edits it: the paired phones, most recently connected
// first; the three options; where received pictures are saved. Everything it does to the
// connection and the desktop comes in as `Operations`. Main thread only; `reload` must be called
// there too (the owner hops from the store's thread).
class PhoneSettingsModel {
  public:
    // "Turn off after 30 minutes without activity": the server's idle time-out.
    static constexpr int kIdleTimeoutMinutes = static_cast<int>(
        std::chrono::duration_cast<std::chrono::minutes>(RemoteInputServer::kIdleTimeout).count());
    // The settings keys of the three option switches.
    static constexpr std::string_view kUsePasteKey = "remoteInputUsePaste";
    static constexpr std::string_view kSendOriginalImagesKey = "remoteSendOriginalImagesToPhone";
    static constexpr std::string_view kIdleTimeoutEnabledKey = "remoteInputIdleTimeoutEnabled";

    struct Operations {
        std::function<std::vector<PairedDevice>()> loadDevices;
        // Turns Phone Connection on, then shows pairing when asked.
        std::function<void(bool thenPair)> turnOn;
        // Forgets a phone: disconnected at once, unable to connect again. The failure's text.
        std::function<Result<void, std::string>(const Uuid& id)> forget;
        // Tells a running server the idle option changed.
        std::function<void()> idleTimeoutChanged;
        // A non-modal question with "Remove" and "Cancel": true only for "Remove".
        std::function<void(const std::string& title, const std::string& message,
                           std::function<void(bool)> completion)>
            confirm;
        std::function<void(const std::string& title, const std::string& message)> alert;
        // A folder chooser starting in `current`: none when cancelled.
        std::function<void(const std::filesystem::path& current,
                           std::function<void(std::optional<std::filesystem::path>)> completion)>
            pickFolder;
        // Asks the file manager once in the background, so a refusal shows up early.
        std::function<void()> primeFileManagerAccess;
    };

    PhoneSettingsModel(std::shared_ptr<UserDefaults> defaults, Operations operations);
    ~PhoneSettingsModel();
    PhoneSettingsModel(const PhoneSettingsModel&) = delete;
    PhoneSettingsModel& operator=(const PhoneSettingsModel&) = delete;

    const Published<std::vector<PairedDevice>>& devices() const { return devices_; }
    // After every reload and every change of the picture options.
    Subscription observeChanges(std::function<void()> observer);

    void reload();
    void turnOnAndPair();
    // Asks first; a failed removal is reported and the list stays as it was.
    void requestRemoval(const PairedDevice& device);

    // The three switches, stored at once.
    bool flag(std::string_view key) const;
    void setFlag(std::string_view key, bool on);
    bool idleTimeoutEnabled() const;
    void setIdleTimeoutEnabled(bool on);

    ImageSaveLocation::Mode imageSaveMode() const;
    void setImageSaveMode(ImageSaveLocation::Mode mode);
    std::filesystem::path imageSaveFolder() const;
    void chooseImageSaveFolder();

  private:
    std::shared_ptr<UserDefaults> defaults_;
    Operations operations_;
    Published<std::vector<PairedDevice>> devices_{{}};
    Observers<> changes_;
    // Completions of prompts and pickers are guarded: a model gone by then does nothing.
    Lifetime lifetime_;
};

}  // namespace kestrune
