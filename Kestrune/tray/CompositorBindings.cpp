#include "Kestrune/tray/CompositorBindings.hpp"

#include <algorithm>
#include <cctype>

#include "Kestrune/hotkey/GlobalHotKey.hpp"

namespace kestrune::tray {

namespace {

// The program as a shell word: both compositors run the command through `sh -c`.
std::string shellWord(std::string_view program) {
    const bool plain = std::all_of(program.begin(), program.end(), [](unsigned char c) {
        return std::isalnum(c) != 0 || c == '/' || c == '.' || c == '_' || c == '-';
    });
    if (plain && !program.empty()) return std::string(program);
    std::string quoted = "'";
    for (char c : program) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// The modifiers in each compositor's words, in GlobalHotKey's display order.
std::string modifierNames(std::uint64_t modifiers, bool hyprland) {
    const std::pair<std::uint64_t, const char*> sway[] = {{GlobalHotKey::command, "Ctrl"},
                                                          {GlobalHotKey::option, "Alt"},
                                                          {GlobalHotKey::shift, "Shift"},
                                                          {GlobalHotKey::control, "Mod4"}};
    const std::pair<std::uint64_t, const char*> hypr[] = {{GlobalHotKey::command, "CTRL"},
                                                          {GlobalHotKey::option, "ALT"},
                                                          {GlobalHotKey::shift, "SHIFT"},
                                                          {GlobalHotKey::control, "SUPER"}};
    std::string names;
    for (const auto& [bit, name] : hyprland ? hypr : sway) {
        if ((modifiers & bit) == 0) continue;
        if (!names.empty()) names += hyprland ? " " : "+";
        names += name;
    }
    return names;
}

}  // namespace

std::string compositorBindings(std::string_view program, const BindingKeys& keys) {
    const std::string run = shellWord(program) + " ctl ";
    std::string text = "# sway (~/.config/sway/config)\n";
    text += "bindsym --no-repeat " + keys.trigger + " exec " + run + "dictation press\n";
    text += "bindsym --release " + keys.trigger + " exec " + run + "dictation release\n";
    if (keys.sendKey) {
        auto modifiers = modifierNames(keys.sendModifiers, false);
        text += "bindsym " + (modifiers.empty() ? "" : modifiers + "+") + *keys.sendKey + " exec " +
                run + "send-clipboard\n";
    }
    text += "\n# Hyprland (~/.config/hypr/hyprland.conf)\n";
    text += "bind = , " + keys.trigger + ", exec, " + run + "dictation press\n";
    text += "bindr = , " + keys.trigger + ", exec, " + run + "dictation release\n";
    if (keys.sendKey) {
        text += "bind = " + modifierNames(keys.sendModifiers, true) + ", " + *keys.sendKey +
                ", exec, " + run + "send-clipboard\n";
    }
    return text;
}

}  // namespace kestrune::tray
