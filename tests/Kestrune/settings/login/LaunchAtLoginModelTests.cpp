// The "Launch at Login" switch's rules over every status a start-at-login facility can report.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Kestrune/settings/login/LaunchAtLoginModel.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"

namespace kestrune {
namespace {

const std::string kNotAvailable =
    "Not available here — Launch at Login works only from the installed app.";

// A facility whose status the test sets, recording the calls made to it.
struct Facility {
    explicit Facility(LoginItemStatus initial = LoginItemStatus::notRegistered,
                      std::optional<std::string> failure = std::nullopt)
        : status(initial), failWith(std::move(failure)) {}

    LoginItemStatus status;
    std::optional<std::string> failWith;
    std::vector<std::string> calls;

    LoginItem item(bool installed = true) {
        return LoginItem{
            .isInstalled = installed,
            .readStatus = [this] { return status; },
            .registerItem = [this] { return perform("register", LoginItemStatus::enabled); },
            .unregisterItem =
                [this] { return perform("unregister", LoginItemStatus::notRegistered); },
        };
    }
    Result<void, std::string> perform(const std::string& name, LoginItemStatus after) {
        calls.push_back(name);
        if (failWith) return *failWith;
        status = after;
        return {};
    }
};

TEST(LaunchAtLoginModel, SwitchNoteAndStateFollowTheStatus) {
    Facility facility(LoginItemStatus::notRegistered);
    LaunchAtLoginModel model(facility.item());
    EXPECT_FALSE(model.isOn());
    EXPECT_TRUE(model.isSwitchEnabled());
    EXPECT_EQ(model.note(), std::nullopt);

    facility.status = LoginItemStatus::unrecognised;
    EXPECT_FALSE(model.isSwitchEnabled());
    EXPECT_EQ(model.note(), localized(kNotAvailable));

    facility.status = LoginItemStatus::enabled;
    EXPECT_TRUE(model.isOn());
    EXPECT_EQ(model.note(), std::nullopt);

    // On again asks nothing; off removes the entry.
    model.set(true);
    EXPECT_TRUE(facility.calls.empty());
    model.set(false);
    EXPECT_EQ(facility.calls, std::vector<std::string>{"unregister"});
    EXPECT_EQ(facility.status, LoginItemStatus::notRegistered);

    // Outside the installed application the switch is off and disabled whatever the status says,
    // and nothing is registered.
    Facility elsewhere(LoginItemStatus::enabled);
    LaunchAtLoginModel outside(elsewhere.item(false));
    EXPECT_FALSE(outside.isOn());
    EXPECT_FALSE(outside.isSwitchEnabled());
    EXPECT_EQ(outside.note(), localized(kNotAvailable));
    outside.set(false);
    EXPECT_TRUE(elsewhere.calls.empty());
}

TEST(LaunchAtLoginModel, AFailureIsTheNoteUntilTheNextChangeOrRefresh) {
    Facility facility(LoginItemStatus::notRegistered,
                      "cannot create /x/autostart: Permission denied");
    LaunchAtLoginModel model(facility.item());
    model.set(true);
    EXPECT_EQ(model.note(), "cannot create /x/autostart: Permission denied");
    EXPECT_EQ(model.failure(), model.note());
    EXPECT_FALSE(model.isOn());

    model.refresh();
    EXPECT_EQ(model.note(), std::nullopt);

    model.set(true);
    ASSERT_TRUE(model.failure());
    facility.failWith.reset();
    model.set(true);
    EXPECT_EQ(model.failure(), std::nullopt);
    EXPECT_TRUE(model.isOn());
}

}  // namespace
}  // namespace kestrune
