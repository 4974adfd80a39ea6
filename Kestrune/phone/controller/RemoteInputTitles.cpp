#include "Kestrune/phone/controller/RemoteInputController.hpp"
#include "Kestrune/phone/typing/UnicodeText.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"

namespace kestrune {

std::string RemoteInputController::shortened(const std::string& note) {
    std::string_view rest = note;
    std::string_view line;
    while (line.empty() && !rest.empty()) {
        const auto end = rest.find_first_of("\r\n");
        line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    }
    const auto characters = unicode::graphemes(unicode::decodeUtf8(line));
    if (characters.size() <= kMaxNoteCharacters) return std::string(line);
    std::u32string kept;
    for (std::size_t i = 0; i + 1 < kMaxNoteCharacters; ++i) kept += characters[i];
    return unicode::encodeUtf8(kept) + "…";
}

std::string RemoteInputController::toggleTitle(const State& state, bool openedForSending,
                                               const std::optional<std::string>& lastFailure) {
    if (std::holds_alternative<RemoteInputLifecycle::Off>(state)) {
        if (!lastFailure) return localized("Phone Connection");
        return localizedFormat("Phone Connection — %s", {shortened(*lastFailure)});
    }
    if (const auto* starting = std::get_if<RemoteInputLifecycle::Starting>(&state)) {
        return starting->stopRequested
                   ? localized("Phone Connection — starting… will turn off as soon as it is up")
                   : localized("Phone Connection — starting…");
    }
    const auto port = std::get<RemoteInputLifecycle::On>(state).port;
    if (openedForSending) {
        return localizedFormat("Phone Connection — on to send, turns off when delivered (port %d)",
                               {port});
    }
    if (lastFailure) {
        return localizedFormat(
            "Phone Connection — port %d (changed — paired phones must pair again)", {port});
    }
    return localizedFormat("Phone Connection — port %d", {port});
}

std::string RemoteInputController::waitingTitle(std::size_t count, bool serviceOff) {
    if (serviceOff) {
        return localizedFormat("%d waiting for your phone — turn on Phone Connection to deliver",
                               {count});
    }
    return localizedFormat("%d waiting for your phone", {count});
}

}  // namespace kestrune
