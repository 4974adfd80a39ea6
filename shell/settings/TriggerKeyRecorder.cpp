#include "shell/settings/TriggerKeyRecorder.hpp"

#include <QLabel>
#include <QPushButton>

#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "shell/settings/SettingsStyle.hpp"

namespace kestrune {

using settings_style::qt;

TriggerKeyRecorder::TriggerKeyRecorder(Dependencies dependencies, QWidget* parent)
    : KeyRecorderFrame({"triggerKeyDisplay", "recordTriggerKey", "triggerKeyHint"}, parent),
      dependencies_(std::move(dependencies)) {
    setFocusPolicy(Qt::NoFocus);
    refresh();
}

void TriggerKeyRecorder::refresh() {
    display_->setText(qt(recording_.display(dependencies_.current())));
    settings_style::makeValue(display_, recording_.isRecording());
    display_->setAccessibleName(qt(localized("Push-to-Talk Key")));
    button_->setText(qt(recording_.buttonTitle()));
    button_->setAccessibleName(button_->text());
    caption_->setText(qt(recording_.hint()));
}

void TriggerKeyRecorder::recordKey(std::int64_t keyCode, Qt::KeyboardModifiers) {
    const auto bound = recording_.handleKey(keyCode);
    if (!recording_.isRecording()) releaseGrab();
    if (bound && dependencies_.onCapture) dependencies_.onCapture(*bound);
}

}  // namespace kestrune
