#include "Kestrune/dictation/paste/InputSourceController.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <string_view>

namespace kestrune::InputSourceController {

namespace {

constexpr std::array<std::string_view, 3> kInputMethodLanguagePrefixes{"zh", "ja", "ko"};
constexpr std::string_view kInputMethodCategory = "inputmode";
constexpr std::string_view kInputMethodIdentifier = "inputmethod";
constexpr std::array<std::string_view, 2> kPreferredLayouts{"com.apple.keylayout.ABC",
                                                           "com.apple.keylayout.US"};

std::string lowered(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

}  // namespace

bool isCJKInputSource(const std::optional<InputSourceDescription>& source) {
    if (!source) return false;
    if (source->languages) {
        for (const auto& language : *source->languages) {
            auto code = lowered(language);
            for (auto prefix : kInputMethodLanguagePrefixes) {
                if (code.rfind(prefix, 0) == 0) return true;
            }
        }
    }
    auto category = lowered(source->category.value_or(""));
    auto identifier = lowered(source->identifier);
    return category.find(kInputMethodCategory) != std::string::npos ||
           identifier.find(kInputMethodIdentifier) != std::string::npos;
}

std::optional<InputSourceDescription> preferredASCIIInputSource(
    const std::optional<InputSourceDescription>& currentASCIICapable,
    const std::optional<std::vector<InputSourceDescription>>& selectable) {
    if (currentASCIICapable) return currentASCIICapable;
    if (!selectable) return std::nullopt;
    for (auto wanted : kPreferredLayouts) {
        auto it = std::find_if(selectable->begin(), selectable->end(),
                               [&](const auto& source) { return source.identifier == wanted; });
        if (it != selectable->end()) return *it;
    }
    if (selectable->empty()) return std::nullopt;
    return selectable->front();
}

}  // namespace kestrune::InputSourceController
