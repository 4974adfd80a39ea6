#include "shell/settings/sections/PhoneOptionsSection.hpp"

#include <QCheckBox>
#include <QVBoxLayout>

#include "Kestrune/phone/settings/PhoneSettingsModel.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "shell/settings/sections/SectionControls.hpp"

namespace kestrune {

PhoneOptionsSection::PhoneOptionsSection(const SettingsViewContext& context) {
    auto& phone = context.dependencies.phone;
    using section_controls::checkBox;
    constexpr std::string_view kPasteKey = PhoneSettingsModel::kUsePasteKey;
    constexpr std::string_view kOriginalImagesKey = PhoneSettingsModel::kSendOriginalImagesKey;
    auto* paste = checkBox(localized("Type by Pasting (for apps that ignore direct input)"),
                           phone.flag(kPasteKey));
    paste->setObjectName("typeByPasting");
    connect(paste, &QCheckBox::toggled, this, [&phone](bool on) { phone.setFlag(kPasteKey, on); });
    auto* original = checkBox(localized("Send Images to Phone at Original Size"),
                              phone.flag(kOriginalImagesKey));
    original->setObjectName("originalImages");
    connect(original, &QCheckBox::toggled, this,
            [&phone](bool on) { phone.setFlag(kOriginalImagesKey, on); });
    auto* idle = checkBox(localizedFormat("Turn off after %d minutes without activity",
                                          {PhoneSettingsModel::kIdleTimeoutMinutes}),
                          phone.idleTimeoutEnabled());
    idle->setObjectName("idleTimeout");
    connect(idle, &QCheckBox::toggled, this,
            [&phone](bool on) { phone.setIdleTimeoutEnabled(on); });
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(paste);
    layout->addWidget(original);
    layout->addWidget(idle);
}

}  // namespace kestrune
