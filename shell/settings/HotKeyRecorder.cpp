#include "shell/settings/HotKeyRecorder.hpp"

#include <QLabel>
#include <QPushButton>

#include "Kestrune/dictation/keys/KeyCatalog.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "shell/settings/SettingsStyle.hpp"

namespace kestrune {

using settings_style::qt;

namespace {
// The shortcut's modifier bits from a PC keyboard's modifiers: Ctrl is the key of common
// shortcuts (the Command bit), Super the Control bit.
std::uint64_t hotKeyModifiers(Qt::KeyboardModifiers modifiers) {
    std::uint64_t bits = 0;
    if (modifiers & Qt::ShiftModifier) bits |= GlobalHotKey::shift;
    if (modifiers & Qt::ControlModifier) bits |= GlobalHotKey::command;
    if (modifiers & Qt::AltModifier) bits |= GlobalHotKey::option;
    if (modifiers & Qt::MetaModifier) bits |= GlobalHotKey::control;
    return bits;
}
}  // namespace

HotKeyRecorder::HotKeyRecorder(Dependencies dependencies, QWidget* parent)
    : KeyRecorderFrame({"hotKeyDisplay", "recordHotKey", "hotKeyCaption"}, parent),
      dependencies_(std::move(dependencies)),
      recording_(HotKeyRecording::Dependencies{
          .onRecordingChange = dependencies_.onRecordingChange,
          .onChange = dependencies_.onChange,
      }) {
    clear_ = new QPushButton;
    clear_->setObjectName("clearHotKey");
    addButton(clear_);
    connect(clear_, &QPushButton::clicked, this, [this] {
        recording_.clear();
        refresh();
    });
    refresh();
}

HotKeyRecorder::~HotKeyRecorder() {
    // Resumes the live shortcut suspended while recording.
    if (recording_.isRecording()) recording_.stop();
}

void HotKeyRecorder::refresh() {
    const auto current = dependencies_.current();
    display_->setText(qt(recording_.display(current)));
    settings_style::makeValue(display_, recording_.isRecording());
    display_->setAccessibleName(qt(localized("Send Clipboard to Phone")));
    button_->setText(qt(recording_.buttonTitle()));
    button_->setAccessibleName(button_->text());
    clear_->setText(qt(localized("Clear")));
    clear_->setAccessibleName(clear_->text());
    clear_->setVisible(recording_.offersClear(current));
    caption_->setText(qt(recording_.caption()));
}

void HotKeyRecorder::recordKey(std::int64_t keyCode, Qt::KeyboardModifiers modifiers) {
    // A modifier pressed on its way to the combination is not the shortcut's key.
    if (const auto* key = KeyCatalog::find(keyCode);
        key && key->role == KeyCatalog::Role::modifier) {
        return;
    }
    recording_.handleKey(static_cast<std::uint16_t>(keyCode), hotKeyModifiers(modifiers));
    if (!recording_.isRecording()) releaseGrab();
}

}  // namespace kestrune
