#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kestrune {

// What the platform tells about one keyboard input source (a layout or an input method).
struct InputSourceDescription {
    std::string identifier;
    std::optional<std::vector<std::string>> languages;
    std::optional<std::string> category;
    bool operator==(const InputSourceDescription&) const = default;
};

// Recognises Chinese, Japanese and Korean input methods, which would turn a pasted keystroke
// into composition, and picks the plain layout to switch to while pasting. On Linux the paste
// shortcut passes through input methods, so nothing switches there; the rules stay for platforms
// whose input sources need it.
namespace InputSourceController {

bool isCJKInputSource(const std::optional<InputSourceDescription>& source);

// `currentASCIICapable` is the system's own choice, if any; `selectable` the keyboard sources
// that can be selected (none when the list could not be read).
std::optional<InputSourceDescription> preferredASCIIInputSource(
    const std::optional<InputSourceDescription>& currentASCIICapable,
    const std::optional<std::vector<InputSourceDescription>>& selectable);

}  // namespace InputSourceController

}  // namespace kestrune
