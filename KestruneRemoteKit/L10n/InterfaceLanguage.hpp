#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace kestrune {

// The language the user chose for the interface in the settings window.
class InterfaceLanguage {
  public:
    enum class Case { system, simplifiedChinese, english };
    // The picker's order.
    static constexpr std::array<Case, 3> allCases = {Case::system, Case::simplifiedChinese,
                                                     Case::english};

    // The user-defaults key of the choice, and the in-process signal sent after a choice.
    static constexpr std::string_view kDefaultsKey = "interfaceLanguage";
    static constexpr std::string_view kDidChangeNotification =
        "Kestrune.interfaceLanguageDidChange";

    constexpr InterfaceLanguage(Case value) : value_(value) {}
    constexpr Case value() const { return value_; }
    bool operator==(const InterfaceLanguage&) const = default;

    // The stored text read back: anything but "zh-Hans" and "en" (absent, "zh-Hant", …) follows
    // the system.
    static InterfaceLanguage fromStored(const std::optional<std::string>& stored);
    static InterfaceLanguage stored(
        const std::function<std::optional<std::string>(std::string_view key)>& read);

    // "system", "zh-Hans", "en": what is stored.
    std::string_view rawValue() const;
    // The language given to the lookup's override; none follows the system.
    std::optional<std::string> languageOverride() const;
    // The picker's title: the language names are shown in their own language, not translated.
    std::string title() const;

    // Makes lookups use the choice from now on, without storing or announcing it.
    void apply() const;

    // The settings window's choice: stores the raw value under "interfaceLanguage", applies it,
    // then announces "Kestrune.interfaceLanguageDidChange" so every open text is redrawn.
    void select(const std::function<void(std::string_view key, const std::string& value)>& store,
                const std::function<void()>& announceChange) const;

  private:
    Case value_;
};

}  // namespace kestrune
