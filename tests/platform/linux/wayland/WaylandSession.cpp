#include "WaylandSession.hpp"

#include <gtest/gtest.h>

#include "platform/linux/wayland/VirtualKeyboard.hpp"

namespace kestrune::testing {

SwaySession* sway = nullptr;

namespace {

// sway starts in about 0.1 s, XWayland with it in about a second: once per program.
class SwayEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        session_ = SwaySession::start("", why_);
        sway = session_.get();
        // The user's keyboard: a headless seat has none, and windows get no keyboard focus
        // without one. The typing under test then reads its layout from the seat, as on a desktop.
        if (sway) userKeyboard_ = wayland::VirtualKeyboard::open();
    }
    void TearDown() override {
        userKeyboard_.reset();
        sway = nullptr;
        session_.reset();
    }
    const std::string& why() const { return why_; }

  private:
    std::unique_ptr<SwaySession> session_;
    std::unique_ptr<wayland::VirtualKeyboard> userKeyboard_;
    std::string why_;
};

SwayEnvironment* environment =
    static_cast<SwayEnvironment*>(::testing::AddGlobalTestEnvironment(new SwayEnvironment));

}  // namespace

const std::string& swayMissing() {
    return environment->why();
}

std::unique_ptr<ReceiverProcess> startReceiver(const std::string& kind) {
    const std::string gtk =
        sway->shared(MURRELO_SOURCE_DIR "/tests/support/receivers/gtk_receiver.py");
    if (kind == "qt-wayland") {
        return ReceiverProcess::start(
            sway->asUser({sway->shared(MURRELO_BINARY_DIR "/tests/support/murrelo_qt_receiver")},
                         {"QT_QPA_PLATFORM=wayland"}));
    }
    if (kind == "gtk-wayland") {
        return ReceiverProcess::start(
            sway->asUser({"/usr/bin/python3", gtk, "text"}, {"GDK_BACKEND=wayland"}));
    }
    return ReceiverProcess::start(
        sway->asUser({"/usr/bin/python3", gtk, "text"}, {"GDK_BACKEND=x11"}));
}

}  // namespace kestrune::testing
