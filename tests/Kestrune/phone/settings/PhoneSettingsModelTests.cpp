#include <gtest/gtest.h>

#include <chrono>

#include "Kestrune/defaults/UserDefaults.hpp"
#include "Kestrune/phone/settings/PhoneSettingsModel.hpp"
#include "Kestrune/phone/settings/RemoteDeviceRow.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "tests/support/TemporaryDirectory.hpp"

namespace kestrune {
namespace {

using namespace std::chrono_literals;

const Date kNow = Date(std::chrono::seconds(1'800'000'000));

PairedDevice device(std::string name, Date lastConnected, char idByte) {
    Uuid::Bytes bytes{};
    bytes.fill(static_cast<std::uint8_t>(idByte));
    return PairedDevice{Uuid(bytes), std::move(name), std::string(58, '0') + "abc123", kNow - 48h,
                        lastConnected};
}

class PhoneSettingsModelTest : public ::testing::Test {
  protected:
    PhoneSettingsModelTest() {
        stored = {device("Old", kNow - 5h, 1), device("Tie A", kNow - 1h, 2),
                  device("New", kNow - 10s, 3), device("Tie B", kNow - 1h, 4)};
        model = std::make_unique<PhoneSettingsModel>(
            defaults,
            PhoneSettingsModel::Operations{
                .loadDevices = [this] { return stored; },
                .turnOn = [this](bool pair) { calls.push_back(pair ? "turnOn pair" : "turnOn"); },
                .forget = [this](const Uuid& id) -> Result<void, std::string> {
                    calls.push_back("forget");
                    if (failRemoval) return std::string("the disk is full");
                    std::erase_if(stored, [&](const auto& d) { return d.id == id; });
                    model->reload();
                    return {};
                },
                .idleTimeoutChanged = [this] { calls.push_back("idleTimeoutChanged"); },
                .confirm =
                    [this](const std::string& title, const std::string& message,
                           std::function<void(bool)> completion) {
                        calls.push_back("confirm " + title);
                        confirmMessage = message;
                        pendingConfirm = std::move(completion);
                    },
                .alert =
                    [this](const std::string& title, const std::string& message) {
                        calls.push_back("alert " + title + ": " + message);
                    },
                .pickFolder =
                    [this](const std::filesystem::path& current,
                           std::function<void(std::optional<std::filesystem::path>)> done) {
                        calls.push_back("pick " + current.filename().string());
                        pendingPick = std::move(done);
                    },
                .primeFileManagerAccess = [this] { calls.push_back("prime"); },
            });
        L10n::shared().setLanguageOverride("en");
    }
    ~PhoneSettingsModelTest() override { L10n::shared().setLanguageOverride(std::nullopt); }

    std::vector<std::string> names() const {
        std::vector<std::string> result;
        for (const auto& d : model->devices().value()) result.push_back(d.name);
        return result;
    }

    testing::TemporaryDirectory dir{"murrelo-phone-settings"};
    std::shared_ptr<UserDefaults> defaults =
        std::make_shared<UserDefaults>(dir.path(), "zz.holvanis.murrelo");
    std::vector<PairedDevice> stored;
    std::vector<std::string> calls;
    bool failRemoval = false;
    std::string confirmMessage;
    std::function<void(bool)> pendingConfirm;
    std::function<void(std::optional<std::filesystem::path>)> pendingPick;
    std::unique_ptr<PhoneSettingsModel> model;
};

TEST_F(PhoneSettingsModelTest, ListsNewestFirstAndRemovesOnlyAfterConfirmation) {
    EXPECT_EQ(names(), (std::vector<std::string>{"New", "Tie A", "Tie B", "Old"}));
    int changes = 0;
    auto watching = model->observeChanges([&] { ++changes; });

    const auto old = model->devices().value().back();
    model->requestRemoval(old);
    EXPECT_EQ(calls, std::vector<std::string>{"confirm Remove “Old”?"});
    EXPECT_EQ(confirmMessage,
              "It will be disconnected now and will have to scan a new code to connect again.");
    pendingConfirm(false);
    EXPECT_EQ(calls.size(), 1u) << "cancelled: nothing forgotten";

    model->requestRemoval(old);
    pendingConfirm(true);
    EXPECT_EQ(calls.back(), "forget");
    EXPECT_EQ(names(), (std::vector<std::string>{"New", "Tie A", "Tie B"}));
    EXPECT_EQ(changes, 1);

    // A failed removal says so, and the list stays as it was.
    failRemoval = true;
    model->requestRemoval(model->devices().value().front());
    pendingConfirm(true);
    EXPECT_EQ(calls.back(), "alert Could not remove “New”: the disk is full");
    EXPECT_EQ(names(), (std::vector<std::string>{"New", "Tie A", "Tie B"}));

    // A confirmation that arrives after the model is gone does nothing.
    model->requestRemoval(model->devices().value().front());
    auto late = std::move(pendingConfirm);
    model.reset();
    const auto before = calls.size();
    late(true);
    EXPECT_EQ(calls.size(), before);
}

TEST_F(PhoneSettingsModelTest, OptionsAndPictureFolderAreStoredAtOnce) {
    model->setIdleTimeoutEnabled(true);
    EXPECT_TRUE(model->idleTimeoutEnabled());
    EXPECT_EQ(defaults->boolean("remoteInputIdleTimeoutEnabled"), true);
    EXPECT_EQ(calls.back(), "idleTimeoutChanged");
    model->setFlag("remoteInputUsePaste", true);
    EXPECT_EQ(defaults->boolean("remoteInputUsePaste"), true);

    EXPECT_EQ(model->imageSaveMode(), ImageSaveLocation::Mode::fixed);
    model->setImageSaveMode(ImageSaveLocation::Mode::frontFileManagerWindow);
    EXPECT_EQ(defaults->string("remoteImageSaveDestination"), "frontFinderWindow");
    EXPECT_EQ(calls.back(), "prime");
    model->setImageSaveMode(ImageSaveLocation::Mode::fixed);
    EXPECT_EQ(defaults->string("remoteImageSaveDestination"), "fixed");
    EXPECT_EQ(calls.back(), "prime") << "only the file-manager choice asks the file manager";

    model->chooseImageSaveFolder();
    pendingPick(std::nullopt);
    EXPECT_EQ(defaults->string("remoteImageSaveFolder"), std::nullopt);
    model->chooseImageSaveFolder();
    pendingPick(dir.path() / "Pictures");
    EXPECT_EQ(defaults->string("remoteImageSaveFolder"), (dir.path() / "Pictures").string());
    EXPECT_EQ(model->imageSaveFolder(), dir.path() / "Pictures");
    model->chooseImageSaveFolder();
    EXPECT_EQ(calls.back(), "pick Pictures") << "the chooser starts in the stored folder";

    model->turnOnAndPair();
    EXPECT_EQ(calls.back(), "turnOn pair");
}

TEST(RemoteDeviceRowTest, NamesThePhoneItsHashEndAndWhenItWasLastSeen) {
    auto& l10n = L10n::shared();
    l10n.setLanguageOverride("en");
    const auto phone = device("Ana’s phone", kNow - 59s, 1);
    EXPECT_EQ(RemoteDeviceRow::title(phone, kNow), "Ana’s phone · …abc123 · just now");
    auto earlier = phone;
    earlier.lastConnectedAt = kNow - 3h - 5min;
    EXPECT_EQ(RemoteDeviceRow::title(earlier, kNow), "Ana’s phone · …abc123 · 3 hours ago");
    earlier.lastConnectedAt = kNow - 60s;
    EXPECT_EQ(RemoteDeviceRow::title(earlier, kNow), "Ana’s phone · …abc123 · 1 minute ago");
    earlier.lastConnectedAt = kNow - 24h * 10;
    EXPECT_EQ(RemoteDeviceRow::title(earlier, kNow), "Ana’s phone · …abc123 · 1 week ago");
    earlier.needsNewPairing = true;
    EXPECT_EQ(RemoteDeviceRow::title(earlier, kNow),
              "Ana’s phone · …abc123 · 1 week ago · needs a new pairing");
    earlier.needsNewPairing = false;

    l10n.setLanguageOverride("zh-Hans");
    EXPECT_EQ(RemoteDeviceRow::title(phone, kNow), "Ana’s phone · …abc123 · 刚刚");
    earlier.lastConnectedAt = kNow - 3h;
    EXPECT_EQ(RemoteDeviceRow::title(earlier, kNow), "Ana’s phone · …abc123 · 3小时前");
    l10n.setLanguageOverride(std::nullopt);
}

}  // namespace
}  // namespace kestrune
