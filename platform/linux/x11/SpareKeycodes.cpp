#include "platform/linux/x11/SpareKeycodes.hpp"

#include <X11/extensions/XKBstr.h>

#include <algorithm>

#include "KestruneRemoteKit/Support/Log.hpp"
#include "platform/linux/x11/X11Connection.hpp"

namespace kestrune::x11 {

SpareKeycodes::SpareKeycodes(Display* display) : display_(display) {}

SpareKeycodes::~SpareKeycodes() = default;

// The core request (XChangeKeyboardMapping) takes one contiguous range of keycodes, and the
// empty ones lie scattered (8, 93, 97, 103, … under Xvfb's US keymap); rewriting the keys between
// them through the core protocol would re-derive their XKB types and actions from core symbols,
// which does not give every key back as it was. The XKB request also takes one range, but carries
// each key's XKB symbol map as it stands: the keys between ours go back unchanged (the server
// keeps their actions when their size does not change), and the whole batch costs clients one
// keymap reload. The server is grabbed from reading the map to writing it, so that no other
// client's keymap change falls in between and is overwritten.
bool SpareKeycodes::change(const std::map<KeyCode, KeySym>& keysyms) {
    if (keysyms.empty()) return true;
    KeyCode first = keysyms.begin()->first;
    KeyCode last = keysyms.rbegin()->first;
    ErrorTrap trap(display_);
    XGrabServer(display_);
    XkbDescPtr xkb = XkbGetMap(display_, XkbKeySymsMask, XkbUseCoreKbd);
    bool sent = false;
    bool complete = true;
    if (xkb != nullptr && xkb->map != nullptr && first >= xkb->min_key_code &&
        last <= xkb->max_key_code) {
        for (const auto& [keycode, keysym] : keysyms) {
            XkbSymMapPtr entry = &xkb->map->key_sym_map[keycode];
            if (saved_.count(keycode) == 0) {
                SavedKey key{};
                std::copy(entry->kt_index, entry->kt_index + XkbNumKbdGroups, key.typeIndex);
                key.groupInfo = entry->group_info;
                key.width = entry->width;
                KeySym* syms = XkbKeySymsPtr(xkb, keycode);
                key.keysyms.assign(syms, syms + XkbKeyNumSyms(xkb, keycode));
                saved_.emplace(keycode, std::move(key));
            }
            if (keysym != NoSymbol) {
                // One group of the one-level type: every shift level gives the same character,
                // so a Shift the user holds does not change what is typed.
                KeySym* syms = XkbResizeKeySyms(xkb, keycode, 1);
                if (syms == nullptr) {
                    complete = false;
                    break;
                }
                syms[0] = keysym;
                std::fill(entry->kt_index, entry->kt_index + XkbNumKbdGroups,
                          static_cast<unsigned char>(XkbOneLevelIndex));
                entry->group_info = static_cast<unsigned char>(XkbSetNumGroups(0, 1));
                entry->width = 1;
            } else if (auto it = saved_.find(keycode); it != saved_.end()) {
                const SavedKey& key = it->second;
                KeySym* syms = XkbResizeKeySyms(xkb, keycode, static_cast<int>(key.keysyms.size()));
                if (syms == nullptr && !key.keysyms.empty()) {
                    complete = false;
                    break;
                }
                std::copy(key.keysyms.begin(), key.keysyms.end(), syms);
                std::copy(key.typeIndex, key.typeIndex + XkbNumKbdGroups, entry->kt_index);
                entry->group_info = key.groupInfo;
                entry->width = key.width;
            }
        }
        XkbMapChangesRec changes{};
        changes.changed = XkbKeySymsMask;
        changes.first_key_sym = first;
        changes.num_key_syms = static_cast<unsigned char>(last - first + 1);
        sent = complete && XkbChangeMap(display_, xkb, &changes) != False;
    }
    XUngrabServer(display_);
    if (xkb != nullptr) XkbFreeKeyboard(xkb, 0, True);
    bool accepted = sent && trap.sync() == Success;
    if (!accepted) {
        log(LogLevel::warning, "x11", "the X server did not take a change of spare keycodes");
        return false;
    }
    for (const auto& [keycode, keysym] : keysyms) {
        if (keysym == NoSymbol) saved_.erase(keycode);
    }
    return true;
}

}  // namespace kestrune::x11
