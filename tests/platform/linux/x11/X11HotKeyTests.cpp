#include <gtest/gtest.h>

#include <cstdlib>

#include "KestruneRemoteKit/Support/SerialQueue.hpp"
#include "platform/linux/x11/HotKeyService.hpp"
#include "tests/support/EventRecorder.hpp"
#include "tests/support/ReceiverProcess.hpp"

namespace kestrune {
namespace {

using testing::fakeKey;

constexpr int leftCtrl = 37;
constexpr int leftAlt = 64;
constexpr int capsLock = 66;
constexpr int numLock = 77;
constexpr int keyK = 45;

class X11HotKey : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "needs an X display";
    }
    void pressShortcut(int repeats = 1) {
        fakeKey(leftCtrl, true);
        fakeKey(leftAlt, true);
        for (int i = 0; i < repeats; ++i) fakeKey(keyK, true);
        fakeKey(keyK, false);
        fakeKey(leftAlt, false);
        fakeKey(leftCtrl, false);
    }
    void toggle(int lockKey) {
        fakeKey(lockKey, true);
        fakeKey(lockKey, false);
    }

    SerialQueue main_{"test-main"};
    testing::EventRecorder presses_;
    // Ctrl+Alt+K: the Command bit is Ctrl on a PC keyboard.
    GlobalHotKey shortcut_{40, GlobalHotKey::command | GlobalHotKey::option};
};

TEST_F(X11HotKey, ShortcutRunsTheActionWithAnyLockState) {
    x11::HotKeyService service(main_);
    GlobalHotKeyCenter center(presses_.recorder("action"), {}, &service);
    ASSERT_TRUE(center.setHotKey(shortcut_));
    pressShortcut(3);  // held: acts once
    EXPECT_EQ(presses_.waitFor(1).size(), 1u);
    toggle(capsLock);
    pressShortcut();
    toggle(numLock);
    pressShortcut();
    toggle(capsLock);
    toggle(numLock);
    EXPECT_EQ(presses_.waitFor(3).size(), 3u);

    center.suspend();
    pressShortcut();
    EXPECT_TRUE(center.resume());
    pressShortcut();
    // The press while suspended never arrives: the fourth comes from after the resume.
    EXPECT_EQ(presses_.waitFor(4).size(), 4u);
    EXPECT_EQ(presses_.waitFor(5, std::chrono::milliseconds(300)).size(), 4u);
}

TEST_F(X11HotKey, ShortcutTakenByAnotherClientFailsCleanly) {
    x11::HotKeyService other(main_);
    ASSERT_TRUE(other.registerHotKey(shortcut_, [] {}));
    x11::HotKeyService service(main_);
    GlobalHotKeyCenter center(presses_.recorder("action"), {}, &service);
    EXPECT_FALSE(center.setHotKey(shortcut_));
    EXPECT_FALSE(center.isRegistered());
    EXPECT_EQ(center.wanted(), shortcut_);
    other.unregisterHotKey();
    center.suspend();
    EXPECT_TRUE(center.resume());
    pressShortcut();
    EXPECT_EQ(presses_.waitFor(1).size(), 1u);
}

TEST(X11HotKeyModifiers, CommandIsCtrlAndControlIsSuper) {
    EXPECT_EQ(x11::xModifiers(GlobalHotKey::command), 0x4u);   // ControlMask
    EXPECT_EQ(x11::xModifiers(GlobalHotKey::control), 0x40u);  // Mod4Mask
    EXPECT_EQ(x11::xModifiers(GlobalHotKey::option | GlobalHotKey::shift), 0x8u | 0x1u);
}

}  // namespace
}  // namespace kestrune
