#include "Kestrune/dictation/refine/LLMConfiguration.hpp"

#include "Kestrune/common/Trimming.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"

namespace kestrune {

std::string title(LLMField field) {
    switch (field) {
        case LLMField::baseURL:
            return localized("API Base URL");
        case LLMField::apiKey:
            return localized("API Key");
        case LLMField::model:
            return localized("Model");
    }
    return {};
}

std::optional<LLMField> LLMConfiguration::firstEmptyField() const {
    if (trimmedWhitespaceAndNewlines(baseURL).empty()) return LLMField::baseURL;
    if (apiKey.empty()) return LLMField::apiKey;
    if (trimmedWhitespaceAndNewlines(model).empty()) return LLMField::model;
    return std::nullopt;
}

}  // namespace kestrune
