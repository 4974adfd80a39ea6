#include "platform/linux/wayland/TypingKeymap.hpp"

#include <xkbcommon/xkbcommon.h>

#include <array>

namespace kestrune::wayland {

namespace {

// XKB keycodes are evdev codes plus 8.
constexpr std::uint32_t kEvdevOffset = 8;
// X clients under XWayland see only keycodes up to 255: spares above it would reach Wayland
// windows alone.
constexpr std::uint32_t kHighestXKeycode = 255;
// Level 1 is the plain key, level 2 usually Shift; deeper levels need modifiers (AltGr, …) whose
// state toolkits track in ways a virtual keyboard cannot rely on.
constexpr xkb_level_index_t kLevelsUsed = 2;

// Vendor keysyms (XF86AudioMute, XF86Launch1, …): keys that a keyboard's extra buttons send.
// Their keycodes carry our characters too, beside the empty ones, because a layout leaves fewer
// than twenty keycodes below 256 empty. Only this keyboard's keymap changes: the user's own
// keyboard keeps its media keys.
constexpr xkb_keysym_t kFirstVendorKeysym = 0x10080000;
constexpr xkb_keysym_t kLastVendorKeysym = 0x1008FFFF;

bool onlyVendorKeysyms(xkb_keymap* keymap, xkb_keycode_t code) {
    const auto layouts = xkb_keymap_num_layouts_for_key(keymap, code);
    for (xkb_layout_index_t layout = 0; layout < layouts; ++layout) {
        const auto levels = xkb_keymap_num_levels_for_key(keymap, code, layout);
        for (xkb_level_index_t level = 0; level < levels; ++level) {
            const xkb_keysym_t* syms = nullptr;
            const int count = xkb_keymap_key_get_syms_by_level(keymap, code, layout, level, &syms);
            for (int i = 0; i < count; ++i) {
                if (syms[i] < kFirstVendorKeysym || syms[i] > kLastVendorKeysym) return false;
            }
        }
    }
    return true;
}

// The end of the section that starts with `header` ("xkb_keycodes", "xkb_symbols"): the line
// "};" that closes it. npos when the text has no such section.
std::size_t sectionEnd(const std::string& text, std::string_view header) {
    auto start = text.find(header);
    if (start == std::string::npos) return std::string::npos;
    auto end = text.find("\n};", start);
    return end == std::string::npos ? end : end + 1;
}

}  // namespace

std::unique_ptr<TypingKeymap> TypingKeymap::fromText(std::string_view keymapText) {
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (context == nullptr) return nullptr;
    // The keymap the compositor sends ends in a NUL byte, which the parser does not take.
    while (!keymapText.empty() && keymapText.back() == '\0') keymapText.remove_suffix(1);
    xkb_keymap* keymap =
        xkb_keymap_new_from_buffer(context, keymapText.data(), keymapText.size(),
                                   XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (keymap == nullptr) {
        xkb_context_unref(context);
        return nullptr;
    }
    return std::unique_ptr<TypingKeymap>(new TypingKeymap(context, keymap));
}

std::unique_ptr<TypingKeymap> TypingKeymap::fromDefaults() {
    xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (context == nullptr) return nullptr;
    xkb_keymap* keymap = xkb_keymap_new_from_names(context, nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (keymap == nullptr) {
        xkb_context_unref(context);
        return nullptr;
    }
    return std::unique_ptr<TypingKeymap>(new TypingKeymap(context, keymap));
}

TypingKeymap::TypingKeymap(xkb_context* context, xkb_keymap* keymap)
    : context_(context), keymap_(keymap) {
    char* text = xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
    text_ = text ? text : "";
    free(text);
    shiftMask_ = 1u << xkb_keymap_mod_get_index(keymap, XKB_MOD_NAME_SHIFT);
    controlMask_ = 1u << xkb_keymap_mod_get_index(keymap, XKB_MOD_NAME_CTRL);

    const auto last = std::min<std::uint32_t>(xkb_keymap_max_keycode(keymap), kHighestXKeycode);
    for (std::uint32_t code = xkb_keymap_min_keycode(keymap); code <= last; ++code) {
        if (code < kEvdevOffset) continue;
        if (xkb_keymap_num_layouts_for_key(keymap, code) == 0 || onlyVendorKeysyms(keymap, code)) {
            const char* name = xkb_keymap_key_get_name(keymap, code);
            spares_.push_back({code, name ? name : "MU" + std::to_string(code), name != nullptr});
            continue;
        }
        const auto levels = std::min(xkb_keymap_num_levels_for_key(keymap, code, 0), kLevelsUsed);
        for (xkb_level_index_t level = 0; level < levels; ++level) {
            const xkb_keysym_t* syms = nullptr;
            if (xkb_keymap_key_get_syms_by_level(keymap, code, 0, level, &syms) != 1) continue;
            std::array<xkb_mod_mask_t, 4> masks{};
            const auto maskCount = xkb_keymap_key_get_mods_for_level(keymap, code, 0, level,
                                                                     masks.data(), masks.size());
            for (std::size_t i = 0; i < maskCount; ++i) {
                if (masks[i] != 0 && masks[i] != shiftMask_) continue;
                // The lowest key wins, and a plain key over a shifted one.
                auto [at, added] =
                    strokes_.try_emplace(syms[0], Stroke{code - kEvdevOffset, masks[i]});
                if (!added && at->second.modifiers != 0 && masks[i] == 0) {
                    at->second = Stroke{code - kEvdevOffset, 0};
                }
                break;
            }
        }
    }
}

TypingKeymap::~TypingKeymap() {
    xkb_keymap_unref(keymap_);
    xkb_context_unref(context_);
}

std::optional<TypingKeymap::Stroke> TypingKeymap::onLayout(char32_t scalar) const {
    const auto keysym = xkb_utf32_to_keysym(scalar);
    if (keysym == XKB_KEY_NoSymbol) return std::nullopt;
    auto found = strokes_.find(keysym);
    if (found == strokes_.end()) return std::nullopt;
    return found->second;
}

std::optional<std::uint32_t> TypingKeymap::keyFor(std::uint32_t keysym) const {
    auto found = strokes_.find(keysym);
    if (found == strokes_.end() || found->second.modifiers != 0) return std::nullopt;
    return found->second.key;
}

std::optional<std::string> TypingKeymap::keysymName(std::uint32_t key) const {
    const xkb_keysym_t* syms = nullptr;
    if (xkb_keymap_key_get_syms_by_level(keymap_, key + kEvdevOffset, 0, 0, &syms) != 1) {
        return std::nullopt;
    }
    std::array<char, 64> name{};
    if (xkb_keysym_get_name(syms[0], name.data(), name.size()) <= 0) return std::nullopt;
    return std::string(name.data());
}

std::uint32_t TypingKeymap::spareKey(std::size_t index) const {
    return spares_.at(index).xkbKeycode - kEvdevOffset;
}

std::string TypingKeymap::textWithExtras(const std::vector<char32_t>& extras) const {
    if (extras.size() > spares_.size()) return {};
    std::string names;
    std::string keys;
    for (std::size_t i = 0; i < extras.size(); ++i) {
        if (extras[i] == 0) continue;
        const auto& spare = spares_[i];
        if (!spare.named) {
            names += "\t<" + spare.name + "> = " + std::to_string(spare.xkbKeycode) + ";\n";
        }
        std::array<char, 64> keysymName{};
        if (xkb_keysym_get_name(xkb_utf32_to_keysym(extras[i]), keysymName.data(),
                                keysymName.size()) <= 0) {
            return {};
        }
        keys += "\tkey <" + spare.name + "> { [ " + keysymName.data() + " ] };\n";
    }
    std::string text = text_;
    // A vendor key's own line goes, rather than being overridden by ours: XWayland compiles the
    // keymap with xkbcomp, whose merging of a key defined twice need not be xkbcommon's.
    const auto symbolsStart = text.find("xkb_symbols");
    for (std::size_t i = 0; i < extras.size() && symbolsStart != std::string::npos; ++i) {
        if (extras[i] == 0) continue;
        const auto line = text.find("\tkey <" + spares_[i].name + ">", symbolsStart);
        if (line == std::string::npos) continue;
        text.erase(line, text.find('\n', line) + 1 - line);
    }
    // The symbols section follows the keycodes section: insert there first, so that the
    // keycodes section's position stays valid.
    const auto symbolsEnd = sectionEnd(text, "xkb_symbols");
    if (symbolsEnd == std::string::npos) return {};
    text.insert(symbolsEnd, keys);
    const auto keycodesEnd = sectionEnd(text, "xkb_keycodes");
    if (keycodesEnd == std::string::npos) return {};
    text.insert(keycodesEnd, names);
    return compiles(text) ? text : std::string{};
}

bool TypingKeymap::compiles(const std::string& text) const {
    xkb_keymap* keymap = xkb_keymap_new_from_string(
        context_, text.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (keymap == nullptr) return false;
    xkb_keymap_unref(keymap);
    return true;
}

}  // namespace kestrune::wayland
