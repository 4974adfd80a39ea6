#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace kestrune {

// The fixed table of key codes the trigger and shortcut settings know about. Codes are the
// layout-independent virtual key codes stored in the settings ("modifier:61", "key:96"); the X11
// layer translates them to evdev and X keycodes. Names use the labels of a PC keyboard.
namespace KeyCatalog {

enum class Role {
    typing,
    essential,
    latchingToggle,
    punctuation,
    function,
    navigation,
    keypad,
    inputMethod,
    modifier,
};

struct Descriptor {
    std::string name;
    Role role;
    bool operator==(const Descriptor&) const = default;
};

// Every catalogued key, built once and never changed.
const std::map<std::int64_t, Descriptor>& table();

// Device-dependent modifier bits of each modifier key; a modifier is down when every bit of its
// mask is set in the current flags.
const std::map<std::int64_t, std::uint64_t>& modifierFlagMasks();

// The catalog name, or "Key " and the decimal code for a key the catalog does not know.
std::string name(std::int64_t keyCode);

// The catalog role of a key, if the key is catalogued.
const Descriptor* find(std::int64_t keyCode);

// True when the modifier is a catalogued modifier with a known mask and all its bits are in flags.
bool isModifierDown(std::int64_t keyCode, std::uint64_t flags);

}  // namespace KeyCatalog

}  // namespace kestrune
