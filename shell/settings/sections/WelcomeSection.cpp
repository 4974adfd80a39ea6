#include "shell/settings/sections/WelcomeSection.hpp"

#include <QHBoxLayout>
#include <QPushButton>

#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "shell/settings/sections/SectionControls.hpp"

namespace kestrune {

WelcomeSection::WelcomeSection(const SettingsViewContext& context) {
    auto& deps = context.dependencies;
    auto* show = section_controls::button(localized("Show Welcome Window…"));
    show->setObjectName("showWelcome");
    connect(show, &QPushButton::clicked, this, [&deps] {
        if (deps.onShowWelcome) deps.onShowWelcome();
    });
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(show);
    layout->addStretch(1);
}

}  // namespace kestrune
