#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrune {

// The localization among `available` that best serves the user's ordered `preferences`: the first
// preference that some localization serves decides. A localization serves a preference when it is
// the same identifier, or has the same language and script once both are completed with their
// likely subtags ("zh-CN" is served by "zh-Hans", "en-GB" by "en", "zh-TW" not by "zh-Hans");
// among several, the one with the same region, else the first listed. "Base" serves nobody.
// Gives one entry, or none when no preference is served.
std::vector<std::string> preferredLocalizations(const std::vector<std::string>& available,
                                                const std::vector<std::string>& preferences);

// The language code of a language identifier ("en" for "en-GB"); none for an empty or unparsable
// one.
std::optional<std::string> languageCode(std::string_view identifier);

// A POSIX locale name as a language identifier: "zh_CN.UTF-8" -> "zh-CN", "de_DE@euro" -> "de-DE".
// None for "C", "POSIX" (no language chosen) and for names that are not locale names.
std::optional<std::string> languageIdentifierFromPosix(std::string_view posixName);

// The user's languages as gettext reads them: the LANGUAGE list (colon-separated POSIX names) and
// then the messages locale itself; nothing when the messages locale is "C" or unset, since gettext
// ignores LANGUAGE then.
std::vector<std::string> userLanguages(std::string_view languageList,
                                       std::string_view messagesLocale);

}  // namespace kestrune
