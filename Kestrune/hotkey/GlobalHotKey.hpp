#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace kestrune {

// A system-wide shortcut: a virtual key code with four modifier bits. On a PC keyboard the
// Command bit stands for Ctrl (the key of common shortcuts) and the Control bit for Super, so the
// refusal rules protect Ctrl+C, Ctrl+V, Ctrl+Shift+Z and the like.
struct GlobalHotKey {
    static constexpr std::uint64_t shift = 0x20000;
    static constexpr std::uint64_t control = 0x40000;   // Super on a PC keyboard
    static constexpr std::uint64_t option = 0x80000;    // Alt
    static constexpr std::uint64_t command = 0x100000;  // Ctrl on a PC keyboard
    static constexpr std::uint64_t modifierMask = shift | control | option | command;

    // The key codes that may not be combined with the Command bit alone: copy, paste, cut, undo,
    // select all, quit, close, hide, minimise, switch, search and preferences.
    static bool isReservedWithCommandOnly(std::uint16_t keyCode);

    enum class Refusal { needsCommandOrControl, commonShortcut };
    // The localized explanation shown by the shortcut recorder.
    static std::string message(Refusal refusal);
    static std::string_view englishMessage(Refusal refusal);

    struct Cancelled {
        bool operator==(const Cancelled&) const = default;
    };
    using Recording = std::variant<GlobalHotKey, Refusal, Cancelled>;
    // What a key press in the shortcut recorder means: Escape cancels, refused combinations give
    // their reason, anything else becomes the shortcut.
    static Recording validate(std::uint16_t keyCode, std::uint64_t modifiers);

    GlobalHotKey(std::uint16_t keyCode, std::uint64_t modifiers)
        : keyCode(keyCode), modifiers(modifiers & modifierMask) {}

    // The stored form "hotkey:<code>:<flags>"; none for anything malformed or refused.
    static std::optional<GlobalHotKey> fromPersistedValue(std::string_view text);
    std::string persistedValue() const;

    // "Ctrl+Alt+Shift+Super+K": the PC names of the set modifiers, then the key's catalog name.
    std::string displayName() const;

    std::uint16_t keyCode;
    std::uint64_t modifiers;
    bool operator==(const GlobalHotKey&) const = default;
};

// The platform's global shortcut service: one registration at a time, presses reported by
// `onPress` on the main thread. Registration fails when another application holds the shortcut.
class SystemHotKeyService {
  public:
    virtual ~SystemHotKeyService() = default;
    virtual bool registerHotKey(const GlobalHotKey& hotKey, std::function<void()> onPress) = 0;
    virtual void unregisterHotKey() = 0;
};

// Owns the single registration of one shortcut, re-registers it on change and can be suspended
// while the settings window records a new shortcut.
class GlobalHotKeyCenter {
  public:
    // Replaces the system service when set (tests): true means registered.
    using Registrar = std::function<bool(const std::optional<GlobalHotKey>&)>;

    GlobalHotKeyCenter(std::function<void()> action, Registrar registrar = {},
                       SystemHotKeyService* system = nullptr);
    ~GlobalHotKeyCenter();
    GlobalHotKeyCenter(const GlobalHotKeyCenter&) = delete;
    GlobalHotKeyCenter& operator=(const GlobalHotKeyCenter&) = delete;

    // Makes `hotKey` the wanted shortcut and registers it unless suspended. True when it is now
    // registered, when none is wanted, or while suspended (only `wanted` changes then).
    bool setHotKey(std::optional<GlobalHotKey> hotKey);

    void suspend();
    // Registers the wanted shortcut again; false when that fails.
    bool resume();

    const std::optional<GlobalHotKey>& wanted() const { return wanted_; }
    bool isSuspended() const { return isSuspended_; }
    bool isRegistered() const { return isRegistered_; }

  private:
    bool registerNow(const std::optional<GlobalHotKey>& hotKey);

    // Presses reach the action through this holder, which dies with the center, so a press
    // reported after destruction does nothing.
    std::shared_ptr<std::function<void()>> action_;
    Registrar registrar_;
    SystemHotKeyService* system_;
    std::optional<GlobalHotKey> wanted_;
    bool isSuspended_ = false;
    bool isRegistered_ = false;
};

}  // namespace kestrune
