#include "shell/settings/sections/LaunchAtLoginSection.hpp"

#include <QCheckBox>
#include <QLabel>
#include <QVBoxLayout>

#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "shell/settings/SettingsStyle.hpp"
#include "shell/settings/sections/SectionControls.hpp"

namespace kestrune {

using settings_style::qt;

LaunchAtLoginSection::LaunchAtLoginSection(const SettingsViewContext& context)
    : login_(context.dependencies.launchAtLogin), contentChanged_(context.contentChanged) {
    toggle_ = section_controls::checkBox(localized("Launch at Login"), false);
    toggle_->setObjectName("launchAtLogin");
    note_ = section_controls::caption(std::string());
    note_->setObjectName("launchAtLoginNote");
    connect(toggle_, &QCheckBox::toggled, this, [this](bool on) {
        std::string failure;
        if (login_.setOn) {
            if (auto changed = login_.setOn(on); !changed) failure = changed.error();
        }
        refresh();
        if (!failure.empty()) {
            note_->setText(qt(failure));
            note_->setVisible(true);
        }
    });
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(toggle_);
    layout->addWidget(note_);
    refresh();
}

void LaunchAtLoginSection::refresh() {
    const QSignalBlocker blocker(toggle_);
    toggle_->setChecked(login_.isOn && login_.isOn());
    toggle_->setEnabled(login_.isAvailable && login_.isAvailable());
    const std::string note = login_.note ? login_.note() : std::string();
    note_->setText(qt(note));
    note_->setVisible(!note.empty());
    if (isVisible()) contentChanged_();
}

}  // namespace kestrune
