#pragma once

#include <memory>

#include "Kestrune/hotkey/GlobalHotKey.hpp"
#include "KestruneRemoteKit/Support/MainQueue.hpp"

namespace kestrune::x11 {

// The global shortcut through XGrabKey on the root window of a private connection. The Command
// bit is Ctrl, Option is Alt, Control is Super; every shortcut is grabbed with and without Caps
// Lock and Num Lock, which X counts as modifiers. A shortcut another client already grabbed
// fails with BadAccess, and registration then reports failure.
class HotKeyService final : public SystemHotKeyService {
  public:
    explicit HotKeyService(MainQueue& main);
    ~HotKeyService() override;
    HotKeyService(const HotKeyService&) = delete;
    HotKeyService& operator=(const HotKeyService&) = delete;

    bool registerHotKey(const GlobalHotKey& hotKey, std::function<void()> onPress) override;
    void unregisterHotKey() override;

    struct Impl;

  private:
    std::shared_ptr<Impl> impl_;
};

// The X modifier mask of a shortcut's flags.
unsigned int xModifiers(std::uint64_t hotKeyModifiers);

}  // namespace kestrune::x11
