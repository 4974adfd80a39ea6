#include "Kestrune/tray/ControlCommand.hpp"

#include <map>

namespace kestrune::tray {

namespace {

ControlRequest call(std::string member) {
    return {ControlRequest::Kind::call, std::move(member), false};
}

}  // namespace

Result<ControlRequest, std::string> parseControlCommand(const std::vector<std::string>& words) {
    static const std::map<std::vector<std::string>, ControlRequest> kRequests = {
        {{"send-clipboard"}, call("SendClipboardToPhone")},
        {{"phone", "on"},
         {ControlRequest::Kind::setProperty, std::string(control::kPhoneConnectionProperty), true}},
        {{"phone", "off"},
         {ControlRequest::Kind::setProperty, std::string(control::kPhoneConnectionProperty),
          false}},
        {{"phone", "toggle"}, call("TogglePhoneConnection")},
        {{"phone", "pair"}, call("ShowPairing")},
        {{"phone", "status"},
         {ControlRequest::Kind::getProperty, std::string(control::kPhoneConnectionProperty),
          false}},
        {{"dictation", "press"}, call("DictationPress")},
        {{"dictation", "release"}, call("DictationRelease")},
        {{"dictation", "toggle"}, call("ToggleDictation")},
        {{"settings"}, call("OpenSettings")},
        {{"welcome"}, call("ShowWelcome")},
        {{"quit"}, call("Quit")},
    };
    const auto found = kRequests.find(words);
    if (found == kRequests.end()) return controlUsage();
    return found->second;
}

std::string controlUsage() {
    return "usage: murrelo ctl send-clipboard | phone on|off|toggle|pair|status |\n"
           "                  dictation press|release|toggle | settings | welcome | quit\n";
}

}  // namespace kestrune::tray
