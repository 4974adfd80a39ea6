#pragma once

#include <array>
#include <optional>
#include <string>

namespace kestrune {

// The fields of the refinement settings form, in the order it checks them.
enum class LLMField { baseURL, apiKey, model };

inline constexpr std::array<LLMField, 3> kAllLLMFields = {LLMField::baseURL, LLMField::apiKey,
                                                          LLMField::model};

// The localized label of the field.
std::string title(LLMField field);

struct LLMConfiguration {
    std::string baseURL;
    std::string apiKey;
    std::string model;
    bool isEnabled = false;

    // The first field left unfilled. A key is taken as typed: a key of spaces is a key.
    std::optional<LLMField> firstEmptyField() const;

    bool operator==(const LLMConfiguration&) const = default;
};

}  // namespace kestrune
