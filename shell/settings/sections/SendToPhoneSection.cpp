#include "shell/settings/sections/SendToPhoneSection.hpp"

#include <QVBoxLayout>

#include "Kestrune/settings/SettingsStore.hpp"
#include "shell/settings/HotKeyRecorder.hpp"

namespace kestrune {

SendToPhoneSection::SendToPhoneSection(const SettingsViewContext& context) {
    auto& deps = context.dependencies;
    recorder_ = new HotKeyRecorder({
        .current = [&deps] { return deps.settings.sendToPhoneHotKey().value(); },
        .onChange =
            [&deps](std::optional<GlobalHotKey> hotKey) {
                deps.settings.setSendToPhoneHotKey(hotKey);
            },
        .onRecordingChange = deps.onHotKeyRecording,
    });
    recorder_->setObjectName("hotKeyRecorder");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(recorder_);
    following_ = deps.settings.sendToPhoneHotKey().subscribe(
        [this](const std::optional<GlobalHotKey>&) { recorder_->refresh(); });
}

}  // namespace kestrune
