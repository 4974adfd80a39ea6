#include <gtest/gtest.h>

#include <cstdlib>
#include <future>

#include "Kestrune/phone/typing/PasswordFieldDetector.hpp"
#include "KestruneRemoteKit/Support/SerialQueue.hpp"
#include "platform/linux/atspi/PasswordFieldQuery.hpp"
#include "tests/support/ReceiverProcess.hpp"

namespace kestrune {
namespace {

class PasswordField : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::getenv("DISPLAY") == nullptr ||
            std::getenv("DBUS_SESSION_BUS_ADDRESS") == nullptr) {
            GTEST_SKIP() << "needs an X display and a session bus with accessibility";
        }
    }
    bool check() {
        std::promise<bool> answer;
        detector_.check([&](bool isPassword) { answer.set_value(isPassword); });
        return answer.get_future().get();
    }

    SerialQueue background_{"Kestrune.PasswordFieldDetector"};
    PasswordFieldDetector detector_{atspi::isPasswordFieldFocused, background_};
};

TEST_F(PasswordField, HiddenGtkEntryIsAPasswordField) {
    auto entry = testing::ReceiverProcess::startGtk("password");
    ASSERT_TRUE(entry && entry->focus());
    EXPECT_TRUE(check());
}

TEST_F(PasswordField, OrdinaryTextFieldsAreNot) {
    auto gtk = testing::ReceiverProcess::startGtk("text");
    ASSERT_TRUE(gtk && gtk->focus());
    EXPECT_FALSE(check());
    auto qt = testing::ReceiverProcess::startQt();
    ASSERT_TRUE(qt && qt->focus());
    EXPECT_FALSE(check());
}

}  // namespace
}  // namespace kestrune
