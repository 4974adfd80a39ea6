#include "shell/settings/sections/PushToTalkSection.hpp"

#include <QLabel>
#include <QVBoxLayout>

#include "Kestrune/settings/SettingsStore.hpp"
#include "shell/common/TriggerKeyPicker.hpp"
#include "shell/settings/TriggerKeyRecorder.hpp"
#include "shell/settings/sections/SectionControls.hpp"

namespace kestrune {

PushToTalkSection::PushToTalkSection(const SettingsViewContext& context) {
    auto& deps = context.dependencies;
    picker_ = new TriggerKeyPicker({.onChange = deps.onTriggerKeyChange});
    picker_->setObjectName("triggerKeyPicker");
    recorder_ = new TriggerKeyRecorder({
        .current = [&deps] { return deps.settings.triggerKey().value(); },
        .onCapture = deps.onTriggerKeyChange,
    });
    recorder_->setObjectName("triggerKeyRecorder");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(picker_);
    layout->addWidget(section_controls::caption(SettingsControls::triggerKeyCaption()));
    layout->addWidget(recorder_);
    following_ = deps.settings.triggerKey().subscribe([this](const TriggerKey& key) {
        picker_->setCurrentKey(key);
        recorder_->refresh();
    });
}

}  // namespace kestrune
