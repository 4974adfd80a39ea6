#include "KeymapSnapshot.hpp"

#include <X11/XKBlib.h>
#include <X11/extensions/XKBstr.h>

namespace kestrune::testing {

KeymapSnapshot keymapSnapshot() {
    KeymapSnapshot keys;
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return keys;
    int min = 0, max = 0, perKeycode = 0;
    XDisplayKeycodes(display, &min, &max);
    KeySym* core =
        XGetKeyboardMapping(display, static_cast<KeyCode>(min), max - min + 1, &perKeycode);
    XkbDescPtr xkb = XkbGetMap(display, XkbAllMapComponentsMask, XkbUseCoreKbd);
    for (int k = min; k <= max && core != nullptr && xkb != nullptr; ++k) {
        std::string key;
        auto add = [&key](unsigned long value) { key += std::to_string(value) + ' '; };
        for (int i = 0; i < perKeycode; ++i) add(core[(k - min) * perKeycode + i]);
        key += "| ";
        const XkbSymMapRec& map = xkb->map->key_sym_map[k];
        for (unsigned char type : map.kt_index) add(type);
        add(map.group_info);
        add(map.width);
        for (int i = 0; i < XkbKeyNumSyms(xkb, k); ++i) add(XkbKeySymsPtr(xkb, k)[i]);
        key += "| ";
        for (int i = 0; i < XkbKeyNumActions(xkb, k); ++i) {
            const XkbAction& action = XkbKeyActionsPtr(xkb, k)[i];
            for (unsigned char byte : action.any.data) add(byte);
            add(action.type);
        }
        add(xkb->server->behaviors[k].type);
        add(xkb->server->behaviors[k].data);
        add(xkb->server->c_explicit[k]);
        add(xkb->map->modmap[k]);
        add(xkb->server->vmodmap[k]);
        keys[k] = key;
    }
    if (xkb != nullptr) XkbFreeKeyboard(xkb, 0, True);
    if (core != nullptr) XFree(core);
    XCloseDisplay(display);
    return keys;
}

std::vector<int> changedKeys(const KeymapSnapshot& before, const KeymapSnapshot& after) {
    std::vector<int> changed;
    for (const auto& [keycode, key] : before) {
        auto it = after.find(keycode);
        if (it == after.end() || it->second != key) changed.push_back(keycode);
    }
    return changed;
}

bool isEmptyKey(const std::string& key) {
    return key.find_first_not_of("0 ") == key.find('|');
}

}  // namespace kestrune::testing
