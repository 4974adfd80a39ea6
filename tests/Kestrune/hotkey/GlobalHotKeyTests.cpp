#include <gtest/gtest.h>

#include <vector>

#include "Kestrune/hotkey/GlobalHotKey.hpp"

namespace kestrune {
namespace {

constexpr std::uint64_t shift = GlobalHotKey::shift;
constexpr std::uint64_t control = GlobalHotKey::control;
constexpr std::uint64_t option = GlobalHotKey::option;
constexpr std::uint64_t command = GlobalHotKey::command;

TEST(GlobalHotKey, StoredFormParsesAndRefuses) {
    EXPECT_EQ(GlobalHotKey::fromPersistedValue("hotkey:9:1048576"), std::nullopt);  // Ctrl+V
    EXPECT_EQ(GlobalHotKey::fromPersistedValue("hotkey:9:1310720"),
              GlobalHotKey(9, control | command));
    EXPECT_EQ(GlobalHotKey::fromPersistedValue("hotkey:6:1179648"), std::nullopt);  // Ctrl+Shift+Z
    EXPECT_EQ(GlobalHotKey::fromPersistedValue("hotkey:6:1441792"),
              GlobalHotKey(6, control | shift | command));
    EXPECT_EQ(GlobalHotKey::fromPersistedValue("hotkey:40:786432"),
              GlobalHotKey(40, control | option));
    for (const char* text : {"hotkey:40", "hotkey:x:786432", "key:40:786432", "hotkey:70000:786432",
                             "hotkey:40:786432:1", "hotkey:40:-1", "hotkey:40:131072", ""}) {
        EXPECT_EQ(GlobalHotKey::fromPersistedValue(text), std::nullopt) << text;
    }
}

TEST(GlobalHotKey, ExtraFlagBitsAreDropped) {
    // Caps Lock (0x10000) added to Control+Option+K.
    auto parsed =
        GlobalHotKey::fromPersistedValue("hotkey:40:" + std::to_string(0x10000 | control | option));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->modifiers, control | option);
    EXPECT_EQ(parsed->persistedValue(), "hotkey:40:786432");
    EXPECT_EQ(GlobalHotKey(40, ~0ull).modifiers, GlobalHotKey::modifierMask);
}

TEST(GlobalHotKey, DisplayNameUsesPcModifierNames) {
    EXPECT_EQ(GlobalHotKey(40, shift | control | option | command).displayName(),
              "Ctrl+Alt+Shift+Super+K");
    EXPECT_EQ(GlobalHotKey(9, control | command).displayName(), "Ctrl+Super+V");
    EXPECT_EQ(GlobalHotKey(96, command).displayName(), "Ctrl+F5");
    EXPECT_EQ(GlobalHotKey(200, control).displayName(), "Super+Key 200");
}

TEST(GlobalHotKey, RecordingRules) {
    using Refusal = GlobalHotKey::Refusal;
    EXPECT_EQ(GlobalHotKey::validate(53, command),
              GlobalHotKey::Recording(GlobalHotKey::Cancelled{}));
    EXPECT_EQ(GlobalHotKey::validate(40, option | shift),
              GlobalHotKey::Recording(Refusal::needsCommandOrControl));
    EXPECT_EQ(GlobalHotKey::validate(6, shift | command),
              GlobalHotKey::Recording(Refusal::commonShortcut));
    for (std::uint16_t reserved : {8, 9, 7, 6, 0, 12, 13, 4, 46, 48, 49, 43}) {
        EXPECT_EQ(GlobalHotKey::validate(reserved, command),
                  GlobalHotKey::Recording(Refusal::commonShortcut))
            << reserved;
    }
    // Reserved keys with any other combination are fine.
    EXPECT_EQ(GlobalHotKey::validate(8, control | command),
              GlobalHotKey::Recording(GlobalHotKey(8, control | command)));
    EXPECT_EQ(GlobalHotKey::validate(49, option | command),
              GlobalHotKey::Recording(GlobalHotKey(49, option | command)));
    EXPECT_EQ(GlobalHotKey::validate(40, control | 0x10000),
              GlobalHotKey::Recording(GlobalHotKey(40, control)));
    EXPECT_EQ(GlobalHotKey::englishMessage(Refusal::needsCommandOrControl),
              "Use at least one of Ctrl or Super.");
    EXPECT_EQ(GlobalHotKey::englishMessage(Refusal::commonShortcut),
              "This is a common shortcut — other apps couldn’t use it anymore.");
}

struct RecordingRegistrar {
    std::vector<std::optional<GlobalHotKey>> calls;
    bool accept = true;
    GlobalHotKeyCenter::Registrar registrar() {
        return [this](const std::optional<GlobalHotKey>& key) {
            calls.push_back(key);
            return accept;
        };
    }
};

TEST(GlobalHotKeyCenter, RegistersThroughTheRegistrar) {
    RecordingRegistrar r;
    GlobalHotKeyCenter center([] {}, r.registrar());
    GlobalHotKey key(40, control | option);
    EXPECT_TRUE(center.setHotKey(key));
    EXPECT_TRUE(center.isRegistered());
    EXPECT_TRUE(center.setHotKey(std::nullopt));
    EXPECT_FALSE(center.isRegistered());
    EXPECT_EQ(r.calls, (std::vector<std::optional<GlobalHotKey>>{key, std::nullopt}));

    r.accept = false;
    EXPECT_FALSE(center.setHotKey(key));
    EXPECT_FALSE(center.isRegistered());
    EXPECT_EQ(center.wanted(), key);  // kept for a later attempt
}

TEST(GlobalHotKeyCenter, SuspensionDropsAndResumeRestores) {
    RecordingRegistrar r;
    GlobalHotKeyCenter center([] {}, r.registrar());
    GlobalHotKey first(40, control);
    GlobalHotKey second(41, control);
    center.setHotKey(first);
    center.suspend();
    EXPECT_TRUE(center.isSuspended());
    EXPECT_FALSE(center.isRegistered());
    // While suspended only the wanted value changes.
    EXPECT_TRUE(center.setHotKey(second));
    EXPECT_EQ(r.calls.size(), 2u);
    r.accept = false;
    EXPECT_FALSE(center.resume());
    EXPECT_FALSE(center.isSuspended());
    EXPECT_EQ(r.calls, (std::vector<std::optional<GlobalHotKey>>{first, std::nullopt, second}));
    EXPECT_TRUE(center.resume());  // not suspended: nothing to do
    EXPECT_EQ(r.calls.size(), 3u);
}

class FakeService : public SystemHotKeyService {
  public:
    bool registerHotKey(const GlobalHotKey& key, std::function<void()> press) override {
        registered = key;
        onPress = std::move(press);
        return !taken;
    }
    void unregisterHotKey() override {
        registered.reset();
        ++unregistrations;
    }
    std::optional<GlobalHotKey> registered;
    std::function<void()> onPress;
    bool taken = false;
    int unregistrations = 0;
};

TEST(GlobalHotKeyCenter, SystemServiceRunsTheActionWhileTheCenterLives) {
    FakeService service;
    int actions = 0;
    std::function<void()> press;
    {
        GlobalHotKeyCenter center([&] { ++actions; }, {}, &service);
        EXPECT_TRUE(center.setHotKey(GlobalHotKey(40, command | option)));
        press = service.onPress;
        press();
        EXPECT_EQ(actions, 1);
        EXPECT_TRUE(center.setHotKey(GlobalHotKey(41, command | option)));
        EXPECT_EQ(service.unregistrations, 1);
        service.taken = true;
        EXPECT_FALSE(center.setHotKey(GlobalHotKey(42, command | option)));
        EXPECT_FALSE(center.isRegistered());
    }
    // A press reported after the center is gone does nothing.
    press();
    EXPECT_EQ(actions, 1);
}

}  // namespace
}  // namespace kestrune
