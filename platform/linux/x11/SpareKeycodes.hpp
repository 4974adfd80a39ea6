#pragma once

#include <X11/XKBlib.h>
#include <X11/Xlib.h>

#include <map>
#include <vector>

namespace kestrune::x11 {

// Puts characters on keycodes that the user's keymap leaves empty, and gives those keycodes back
// exactly as they were. Any number of keycodes change in one XKB request: every X client
// re-reads the keymap on each change, so one change per batch instead of one per character
// keeps receivers from falling behind. Used on the typist's thread and connection.
class SpareKeycodes {
  public:
    explicit SpareKeycodes(Display* display);
    ~SpareKeycodes();
    SpareKeycodes(const SpareKeycodes&) = delete;
    SpareKeycodes& operator=(const SpareKeycodes&) = delete;

    // Maps each keycode to its keysym on every shift level (NoSymbol gives the keycode back as
    // the user's keymap had it), in one request. False when the server refused it.
    bool change(const std::map<KeyCode, KeySym>& keysyms);

  private:
    // A key's entry in the XKB symbol map, saved before we first change it.
    struct SavedKey {
        unsigned char typeIndex[XkbNumKbdGroups];
        unsigned char groupInfo;
        unsigned char width;
        std::vector<KeySym> keysyms;
    };

    Display* display_;
    std::map<KeyCode, SavedKey> saved_;
};

}  // namespace kestrune::x11
