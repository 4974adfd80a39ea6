#pragma once

#include <map>
#include <string>
#include <vector>

namespace kestrune::testing {

// Everything clients can read of each key's mapping on the X display: its core symbols and its
// XKB symbol map, actions, behaviour, explicit components and modifier maps, by keycode.
using KeymapSnapshot = std::map<int, std::string>;

KeymapSnapshot keymapSnapshot();
// The keycodes whose mapping differs between two snapshots.
std::vector<int> changedKeys(const KeymapSnapshot& before, const KeymapSnapshot& after);
// Whether a key of a snapshot has no symbol in the core keymap.
bool isEmptyKey(const std::string& key);

}  // namespace kestrune::testing
