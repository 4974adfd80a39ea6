#include "shell/settings/sections/InterfaceLanguageSection.hpp"

#include <QComboBox>
#include <QFormLayout>
#include <QTimer>

#include "Kestrune/defaults/UserDefaults.hpp"
#include "Kestrune/settings/ui/InterfaceLanguageSignal.hpp"
#include "KestruneRemoteKit/L10n/InterfaceLanguage.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "shell/settings/SettingsStyle.hpp"

namespace kestrune {

using settings_style::qt;

InterfaceLanguageSection::InterfaceLanguageSection(const SettingsViewContext& context) {
    auto& defaults = context.dependencies.defaults;
    auto* picker = new QComboBox;
    picker->setObjectName("interfaceLanguage");
    picker->setAccessibleName(qt(localized("Interface Language")));
    const auto current = InterfaceLanguage::stored(
        [&defaults](std::string_view key) { return defaults->string(key); });
    for (auto language : InterfaceLanguage::allCases) {
        picker->addItem(qt(InterfaceLanguage(language).title()),
                        qt(std::string(InterfaceLanguage(language).rawValue())));
        if (InterfaceLanguage(language) == current) picker->setCurrentIndex(picker->count() - 1);
    }
    connect(picker, &QComboBox::activated, this, [&defaults](int index) {
        const InterfaceLanguage chosen =
            InterfaceLanguage::allCases.at(static_cast<std::size_t>(index));
        // Announced after this handler returns: relabelling rebuilds this very pane.
        chosen.select([&defaults](std::string_view key,
                                  const std::string& value) { defaults->set(key, value); },
                      [] { QTimer::singleShot(0, [] { InterfaceLanguageSignal::announce(); }); });
    });
    auto* form = new QFormLayout(this);
    form->setContentsMargins(0, 0, 0, 0);
    form->addRow(qt(localized("Interface Language")), picker);
}

}  // namespace kestrune
