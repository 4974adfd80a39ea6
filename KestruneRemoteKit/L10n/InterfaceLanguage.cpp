#include "KestruneRemoteKit/L10n/InterfaceLanguage.hpp"

#include "KestruneRemoteKit/L10n/L10n.hpp"

namespace kestrune {

InterfaceLanguage InterfaceLanguage::fromStored(const std::optional<std::string>& stored) {
    if (stored == "zh-Hans") return Case::simplifiedChinese;
    if (stored == "en") return Case::english;
    return Case::system;
}

InterfaceLanguage InterfaceLanguage::stored(
    const std::function<std::optional<std::string>(std::string_view key)>& read) {
    return fromStored(read(kDefaultsKey));
}

std::string_view InterfaceLanguage::rawValue() const {
    switch (value_) {
        case Case::system:
            return "system";
        case Case::simplifiedChinese:
            return "zh-Hans";
        case Case::english:
            return "en";
    }
    return "system";
}

std::optional<std::string> InterfaceLanguage::languageOverride() const {
    if (value_ == Case::system) return std::nullopt;
    return std::string(rawValue());
}

std::string InterfaceLanguage::title() const {
    switch (value_) {
        case Case::system:
            return localized("Match System");
        case Case::simplifiedChinese:
            return "简体中文";
        case Case::english:
            return "English";
    }
    return {};
}

void InterfaceLanguage::apply() const {
    L10n::shared().setLanguageOverride(languageOverride());
}

void InterfaceLanguage::select(
    const std::function<void(std::string_view key, const std::string& value)>& store,
    const std::function<void()>& announceChange) const {
    store(kDefaultsKey, std::string(rawValue()));
    apply();
    announceChange();
}

}  // namespace kestrune
