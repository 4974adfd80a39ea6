#include <gtest/gtest.h>

#include <cstdlib>
#include <future>

#include "KestruneRemoteKit/Support/SerialQueue.hpp"
#include "platform/linux/clipboard/X11Clipboard.hpp"
#include "platform/linux/x11/HotKeyService.hpp"
#include "platform/linux/x11/TriggerKeyMonitor.hpp"
#include "platform/linux/x11/X11DirectTyping.hpp"
#include "platform/linux/x11/X11Typist.hpp"

namespace kestrune {
namespace {

// A Wayland-only session or a service without a display: every X11 operation must fail cleanly.
class NoDisplay : public ::testing::Test {
  protected:
    void SetUp() override { unsetenv("DISPLAY"); }
    SerialQueue main_{"test-main"};
};

TEST_F(NoDisplay, TypingAndShortcutsReportFailureWithoutCrashing) {
    EXPECT_FALSE(x11::isTrusted());
    EXPECT_EQ(x11::Typist::open(), nullptr);
    x11::DirectTyping typing(main_);
    main_.sync([&] {
        typing.post("nothing happens");
        typing.pressKey(36);
    });

    x11::TriggerKeyMonitor monitor(main_);
    monitor.setTriggerKey(TriggerKey::modifier(61));
    // Without a display it is the session, not the key: worth trying again later.
    const auto started = monitor.start();
    ASSERT_FALSE(started.ok());
    EXPECT_EQ(started.error(), TriggerKeySource::StartFailure::sessionUnavailable);
    EXPECT_FALSE(monitor.isRunning());
    EXPECT_FALSE(monitor.keyboardState().isKeyDown(96));
    EXPECT_EQ(monitor.keyboardState().modifierFlags(), 0u);

    x11::HotKeyService service(main_);
    EXPECT_FALSE(service.registerHotKey(GlobalHotKey(40, GlobalHotKey::command), [] {}));
    service.unregisterHotKey();
}

TEST_F(NoDisplay, ClipboardOperationsCompleteEmpty) {
    X11Clipboard clipboard(main_);
    std::promise<PasteboardSnapshot> snapshot;
    clipboard.takeSnapshot([&](PasteboardSnapshot s) { snapshot.set_value(std::move(s)); });
    EXPECT_TRUE(snapshot.get_future().get().isEmpty());
    std::promise<void> written;
    clipboard.writeText("text", [&] { written.set_value(); });
    written.get_future().wait();
    std::promise<void> restored;
    clipboard.restore({}, [&] { restored.set_value(); });
    restored.get_future().wait();
}

}  // namespace
}  // namespace kestrune
