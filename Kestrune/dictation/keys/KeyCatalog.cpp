#include "Kestrune/dictation/keys/KeyCatalog.hpp"

#include <initializer_list>
#include <utility>

namespace kestrune::KeyCatalog {

namespace {

using Entry = std::pair<std::int64_t, const char*>;

void insertAll(std::map<std::int64_t, Descriptor>& table, Role role,
               std::initializer_list<Entry> entries) {
    for (const auto& [code, name] : entries) table.emplace(code, Descriptor{name, role});
}

std::map<std::int64_t, Descriptor> buildTable() {
    std::map<std::int64_t, Descriptor> table;
    insertAll(
        table, Role::typing,
        {{0, "A"},  {1, "S"},  {2, "D"},  {3, "F"},  {4, "H"},  {5, "G"},  {6, "Z"},  {7, "X"},
         {8, "C"},  {9, "V"},  {11, "B"}, {12, "Q"}, {13, "W"}, {14, "E"}, {15, "R"}, {16, "Y"},
         {17, "T"}, {31, "O"}, {32, "U"}, {34, "I"}, {35, "P"}, {37, "L"}, {38, "J"}, {40, "K"},
         {45, "N"}, {46, "M"}, {18, "1"}, {19, "2"}, {20, "3"}, {21, "4"}, {22, "6"}, {23, "5"},
         {25, "9"}, {26, "7"}, {28, "8"}, {29, "0"}});
    insertAll(table, Role::essential,
              {{36, "Return"},
               {48, "Tab"},
               {49, "Space"},
               {51, "Backspace"},
               {53, "Escape"},
               {123, "Left Arrow"},
               {124, "Right Arrow"},
               {125, "Down Arrow"},
               {126, "Up Arrow"}});
    insertAll(table, Role::latchingToggle, {{57, "Caps Lock"}});
    insertAll(table, Role::punctuation,
              {{24, "="},
               {27, "-"},
               {30, "]"},
               {33, "["},
               {39, "'"},
               {41, ";"},
               {42, "\\"},
               {43, ","},
               {44, "/"},
               {47, "."},
               {50, "`"}});
    insertAll(table, Role::function,
              {{122, "F1"},  {120, "F2"},  {99, "F3"},   {118, "F4"},  {96, "F5"},
               {97, "F6"},   {98, "F7"},   {100, "F8"},  {101, "F9"},  {109, "F10"},
               {103, "F11"}, {111, "F12"}, {105, "F13"}, {107, "F14"}, {113, "F15"},
               {106, "F16"}, {64, "F17"},  {79, "F18"},  {80, "F19"},  {90, "F20"}});
    insertAll(table, Role::navigation,
              {{114, "Insert"},
               {115, "Home"},
               {116, "Page Up"},
               {117, "Delete"},
               {119, "End"},
               {121, "Page Down"},
               {110, "Menu"}});
    insertAll(table, Role::keypad,
              {{65, "Keypad ."},
               {67, "Keypad *"},
               {69, "Keypad +"},
               {71, "Keypad Clear"},
               {75, "Keypad /"},
               {76, "Keypad Enter"},
               {78, "Keypad -"},
               {81, "Keypad ="},
               {82, "Keypad 0"},
               {83, "Keypad 1"},
               {84, "Keypad 2"},
               {85, "Keypad 3"},
               {86, "Keypad 4"},
               {87, "Keypad 5"},
               {88, "Keypad 6"},
               {89, "Keypad 7"},
               {91, "Keypad 8"},
               {92, "Keypad 9"}});
    insertAll(table, Role::inputMethod,
              {{93, "¥ (JIS Yen)"},
               {94, "_ (JIS Underscore)"},
               {95, "Keypad , (JIS)"},
               {102, "英数 (JIS Eisu)"},
               {104, "かな (JIS Kana)"}});
    insertAll(table, Role::modifier,
              {{54, "Right Super"},
               {55, "Left Super"},
               {56, "Left Shift"},
               {58, "Left Alt"},
               {59, "Left Ctrl"},
               {60, "Right Shift"},
               {61, "Right Alt"},
               {62, "Right Ctrl"},
               {63, "Fn"}});
    return table;
}

}  // namespace

const std::map<std::int64_t, Descriptor>& table() {
    static const auto built = buildTable();
    return built;
}

const std::map<std::int64_t, std::uint64_t>& modifierFlagMasks() {
    static const std::map<std::int64_t, std::uint64_t> masks{
        {54, 0x10}, {55, 0x8},  {56, 0x2},    {58, 0x20},     {59, 0x1},
        {60, 0x4},  {61, 0x40}, {62, 0x2000}, {63, 0x800000},
    };
    return masks;
}

const Descriptor* find(std::int64_t keyCode) {
    const auto& all = table();
    auto it = all.find(keyCode);
    return it == all.end() ? nullptr : &it->second;
}

std::string name(std::int64_t keyCode) {
    if (const auto* descriptor = find(keyCode)) return descriptor->name;
    return "Key " + std::to_string(keyCode);
}

bool isModifierDown(std::int64_t keyCode, std::uint64_t flags) {
    const auto* descriptor = find(keyCode);
    if (descriptor == nullptr || descriptor->role != Role::modifier) return false;
    const auto& masks = modifierFlagMasks();
    auto mask = masks.find(keyCode);
    return mask != masks.end() && (flags & mask->second) == mask->second;
}

}  // namespace kestrune::KeyCatalog
