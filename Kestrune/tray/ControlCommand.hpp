#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "KestruneRemoteKit/Support/Result.hpp"

namespace kestrune::tray {

// The running application's control over the session bus: one instance owns the name, and
// `murrelo ctl …` (or a window manager's key binding) asks it to act.
namespace control {
inline constexpr std::string_view kBusName = "zz.holvanis.murrelo";
inline constexpr std::string_view kObjectPath = "/zz/holvanis/murrelo";
inline constexpr std::string_view kInterface = "zz.holvanis.murrelo.Control";
// Answered when the part a call needs is not part of this build.
inline constexpr std::string_view kNotAvailableError = "zz.holvanis.murrelo.Error.NotAvailable";
inline constexpr std::string_view kFailedError = "zz.holvanis.murrelo.Error.Failed";
inline constexpr std::string_view kPhoneConnectionProperty = "PhoneConnection";
}  // namespace control

// One request of `murrelo ctl`: a method call, or reading or writing the PhoneConnection property.
struct ControlRequest {
    enum class Kind { call, getProperty, setProperty };
    Kind kind = Kind::call;
    std::string member;
    bool value = false;  // setProperty
    bool operator==(const ControlRequest&) const = default;
};

// The words after "ctl": send-clipboard | phone on|off|toggle|pair|status |
// dictation press|release|toggle | settings | welcome | quit. Anything else gives the usage.
Result<ControlRequest, std::string> parseControlCommand(const std::vector<std::string>& words);

std::string controlUsage();

}  // namespace kestrune::tray
