#include "platform/linux/x11/KeyCodeMap.hpp"

#include <map>
#include <utility>

#include "Kestrune/dictation/keys/KeyCatalog.hpp"

namespace kestrune::x11 {

namespace {

// X keycodes are evdev codes shifted by 8; the core protocol has no keycode above 255.
constexpr int xKeycodeOffset = 8;
constexpr int maxXKeycode = 255;

// Every catalogued key: virtual key code, evdev code (linux/input-event-codes.h).
constexpr std::pair<std::int64_t, int> virtualToEvdev[] = {
    // letters
    {0, 30},
    {1, 31},
    {2, 32},
    {3, 33},
    {4, 35},
    {5, 34},
    {6, 44},
    {7, 45},
    {8, 46},
    {9, 47},
    {11, 48},
    {12, 16},
    {13, 17},
    {14, 18},
    {15, 19},
    {16, 21},
    {17, 20},
    {31, 24},
    {32, 22},
    {34, 23},
    {35, 25},
    {37, 38},
    {38, 36},
    {40, 37},
    {45, 49},
    {46, 50},
    // digits
    {18, 2},
    {19, 3},
    {20, 4},
    {21, 5},
    {22, 7},
    {23, 6},
    {25, 10},
    {26, 8},
    {28, 9},
    {29, 11},
    // Return, Tab, Space, Backspace, Escape, arrows
    {36, 28},
    {48, 15},
    {49, 57},
    {51, 14},
    {53, 1},
    {123, 105},
    {124, 106},
    {125, 108},
    {126, 103},
    // Caps Lock
    {57, 58},
    // punctuation
    {24, 13},
    {27, 12},
    {30, 27},
    {33, 26},
    {39, 40},
    {41, 39},
    {42, 43},
    {43, 51},
    {44, 53},
    {47, 52},
    {50, 41},
    // F1 to F20
    {122, 59},
    {120, 60},
    {99, 61},
    {118, 62},
    {96, 63},
    {97, 64},
    {98, 65},
    {100, 66},
    {101, 67},
    {109, 68},
    {103, 87},
    {111, 88},
    {105, 183},
    {107, 184},
    {113, 185},
    {106, 186},
    {64, 187},
    {79, 188},
    {80, 189},
    {90, 190},
    // Insert, Home, Page Up, Delete, End, Page Down, Menu (KEY_COMPOSE)
    {114, 110},
    {115, 102},
    {116, 104},
    {117, 111},
    {119, 107},
    {121, 109},
    {110, 127},
    // keypad; Clear sits where a PC keypad has Num Lock
    {65, 83},
    {67, 55},
    {69, 78},
    {71, 69},
    {75, 98},
    {76, 96},
    {78, 74},
    {81, 117},
    {82, 82},
    {83, 79},
    {84, 80},
    {85, 81},
    {86, 75},
    {87, 76},
    {88, 77},
    {89, 71},
    {91, 72},
    {92, 73},
    // JIS keys: Yen, Ro, keypad comma, Eisu (LANG2), Kana (LANG1)
    {93, 124},
    {94, 89},
    {95, 95},
    {102, 123},
    {104, 122},
    // modifiers: Super, Shift, Alt, Ctrl, Fn
    {54, 126},
    {55, 125},
    {56, 42},
    {58, 56},
    {59, 29},
    {60, 54},
    {61, 100},
    {62, 97},
    {63, 464},
};

const std::map<int, std::int64_t>& evdevToVirtual() {
    static const auto reverse = [] {
        std::map<int, std::int64_t> map;
        for (const auto& [virtualCode, evdev] : virtualToEvdev) map.emplace(evdev, virtualCode);
        return map;
    }();
    return reverse;
}

}  // namespace

std::optional<int> evdevCode(std::int64_t virtualKeyCode) {
    for (const auto& [virtualCode, evdev] : virtualToEvdev) {
        if (virtualCode == virtualKeyCode) return evdev;
    }
    return std::nullopt;
}

std::optional<std::int64_t> virtualKeyCode(int evdev) {
    const auto& reverse = evdevToVirtual();
    auto it = reverse.find(evdev);
    if (it == reverse.end()) return std::nullopt;
    return it->second;
}

std::optional<int> xKeycode(std::int64_t virtualKeyCode) {
    auto evdev = evdevCode(virtualKeyCode);
    if (!evdev || *evdev + xKeycodeOffset > maxXKeycode) return std::nullopt;
    return *evdev + xKeycodeOffset;
}

std::optional<std::int64_t> virtualKeyCodeForXKeycode(int keycode) {
    return virtualKeyCode(keycode - xKeycodeOffset);
}

std::uint64_t modifierFlags(const std::function<bool(int xKeycode)>& isDown) {
    std::uint64_t flags = 0;
    for (const auto& [virtualCode, mask] : KeyCatalog::modifierFlagMasks()) {
        auto keycode = xKeycode(virtualCode);
        if (keycode && isDown(*keycode)) flags |= mask;
    }
    return flags;
}

}  // namespace kestrune::x11
