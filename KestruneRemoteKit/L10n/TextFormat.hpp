#pragma once

#include <concepts>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace kestrune {

// One value inserted into a text. Numbers become plain decimal digits (no grouping, no locale
// digits), so "Port 8443" reads the same in every interface language.
class FormatValue {
  public:
    FormatValue(std::string_view text) : text_(text) {}
    FormatValue(const std::string& text) : text_(text) {}
    FormatValue(const char* text) : text_(text) {}
    template <std::integral Number>
    requires(!std::same_as<Number, bool> && !std::same_as<Number, char>) FormatValue(Number number)
        : text_(std::to_string(number)) {}

    const std::string& text() const { return text_; }

  private:
    std::string text_;
};

// Fills the placeholders of a format text: "%s" and "%d" take the values in order, "%1$s" and
// "%1$d" name the value by position (translations may reorder them), "%%" is a percent sign.
// A placeholder without a value, and any other "%" sequence, stays as written.
std::string formatText(std::string_view pattern, std::initializer_list<FormatValue> values);
std::string formatText(std::string_view pattern, const std::vector<FormatValue>& values);

// The placeholders of a format text as "<position>$<conversion>" (sorted), so that a key and its
// translation can be compared: "%d of %s" and "%2$s: %1$d" both give {"1$d", "2$s"}.
std::vector<std::string> formatPlaceholders(std::string_view pattern);

}  // namespace kestrune
