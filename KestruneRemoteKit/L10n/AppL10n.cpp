#include "KestruneRemoteKit/L10n/AppL10n.hpp"

namespace kestrune {

const ResourceBundle& AppL10n::resources() {
    static const ResourceBundle app = L10n::resources("app", L10n::mainResourceFolder(), [] {
        return ResourceBundle{L10n::buildTreeResourceFolder() / "app"};
    });
    return app;
}

LocalizedBundle AppL10n::bundle() {
    return L10n::shared().bundle(resources(), L10n::kAppSourceLanguage);
}

std::string AppL10n::locale() {
    return bundle().language.value_or(std::string(L10n::kAppSourceLanguage));
}

std::string localized(std::string_view englishKey) {
    return L10n::shared().string(englishKey, AppL10n::resources(), L10n::kAppSourceLanguage);
}

std::string localizedFormat(std::string_view englishFormatKey,
                            std::initializer_list<FormatValue> values) {
    return formatText(localized(englishFormatKey), values);
}

}  // namespace kestrune
