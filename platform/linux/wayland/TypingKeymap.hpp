#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct xkb_context;
struct xkb_keymap;

namespace kestrune::wayland {

// The keymaps a virtual keyboard types with: the user's whole layout (toolkits match shortcuts
// and keys only against a complete one), plus the characters it lacks, each on a keycode the
// layout leaves empty. Keycodes here are evdev codes, as the virtual keyboard sends them.
class TypingKeymap {
  public:
    // Where a character lies: its key and the modifiers (none or Shift) that give it.
    struct Stroke {
        std::uint32_t key = 0;
        std::uint32_t modifiers = 0;
        bool operator==(const Stroke&) const = default;
    };

    // The layout from its XKB text (the seat keyboard's keymap), or null when it does not compile.
    static std::unique_ptr<TypingKeymap> fromText(std::string_view keymapText);
    // The layout the XKB_DEFAULT_* variables name, else the system default: what the compositor
    // itself uses when the seat has no keyboard to ask.
    static std::unique_ptr<TypingKeymap> fromDefaults();
    ~TypingKeymap();
    TypingKeymap(const TypingKeymap&) = delete;
    TypingKeymap& operator=(const TypingKeymap&) = delete;

    std::optional<Stroke> onLayout(char32_t scalar) const;
    // The key of a keysym reachable without modifiers (Return, Tab, v, …).
    std::optional<std::uint32_t> keyFor(std::uint32_t keysym) const;
    // The name of what the key gives without modifiers ("Alt_R", "k", "F13"); none for a key the
    // layout leaves empty.
    std::optional<std::string> keysymName(std::uint32_t key) const;
    std::uint32_t shiftMask() const { return shiftMask_; }
    std::uint32_t controlMask() const { return controlMask_; }

    // How many characters off the layout one keymap can carry.
    std::size_t spareCount() const { return spares_.size(); }
    // The layout plus `extras` (at most spareCount(), none on the layout), `extras[i]` on
    // spareKey(i) without modifiers; a zero leaves that spare as the layout has it. Empty when the
    // result does not compile.
    std::string textWithExtras(const std::vector<char32_t>& extras) const;
    std::uint32_t spareKey(std::size_t index) const;

  private:
    struct Spare {
        std::uint32_t xkbKeycode;
        std::string name;
        bool named;  // the layout's keycodes section already names it
    };

    TypingKeymap(xkb_context* context, xkb_keymap* keymap);
    bool compiles(const std::string& text) const;

    xkb_context* context_;
    xkb_keymap* keymap_;
    std::string text_;
    std::unordered_map<std::uint32_t, Stroke> strokes_;  // by keysym
    std::vector<Spare> spares_;
    std::uint32_t shiftMask_ = 0;
    std::uint32_t controlMask_ = 0;
};

}  // namespace kestrune::wayland
