#include "Kestrune/shell/settings/HotKeyRecorder.hpp"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "Kestrune/dictation/keys/KeyCatalog.hpp"
#include "Kestrune/shell/settings/SettingsStyle.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "platform/linux/x11/KeyCodeMap.hpp"

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
    : QWidget(parent),
      dependencies_(std::move(dependencies)),
      recording_(HotKeyRecording::Dependencies{
          .onRecordingChange = dependencies_.onRecordingChange,
          .onChange = dependencies_.onChange,
      }) {
    display_ = new QLabel;
    display_->setObjectName("hotKeyDisplay");
    button_ = new QPushButton;
    button_->setObjectName("recordHotKey");
    clear_ = new QPushButton;
    clear_->setObjectName("clearHotKey");
    caption_ = new QLabel;
    caption_->setObjectName("hotKeyCaption");
    settings_style::makeCaption(caption_);

    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(display_, 1);
    row->addWidget(button_);
    row->addWidget(clear_);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->addLayout(row);
    column->addWidget(caption_);

    connect(button_, &QPushButton::clicked, this, [this] {
        if (recording_.isRecording()) {
            stop();
        } else {
            start();
        }
    });
    connect(clear_, &QPushButton::clicked, this, [this] {
        recording_.clear();
        refresh();
    });
    refresh();
}

HotKeyRecorder::~HotKeyRecorder() {
    if (recording_.isRecording()) {
        releaseKeyboard();
        recording_.stop();
    }
}

void HotKeyRecorder::start() {
    if (recording_.isRecording()) return;
    recording_.start();
    grabKeyboard();
    refresh();
}

void HotKeyRecorder::stop() {
    if (!recording_.isRecording()) return;
    releaseKeyboard();
    recording_.stop();
    refresh();
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

bool HotKeyRecorder::event(QEvent* event) {
    if (event->type() == QEvent::ShortcutOverride && recording_.isRecording()) {
        event->accept();
        return true;
    }
    return QWidget::event(event);
}

void HotKeyRecorder::keyPressEvent(QKeyEvent* event) {
    if (!recording_.isRecording()) {
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
    if (event->isAutoRepeat()) return;
    const auto keyCode = x11::virtualKeyCodeForXKeycode(static_cast<int>(event->nativeScanCode()));
    if (!keyCode) return;
    // A modifier pressed on its way to the combination is not the shortcut's key.
    if (const auto* key = KeyCatalog::find(*keyCode);
        key && key->role == KeyCatalog::Role::modifier) {
        return;
    }
    recording_.handleKey(static_cast<std::uint16_t>(*keyCode), hotKeyModifiers(event->modifiers()));
    if (!recording_.isRecording()) releaseKeyboard();
    refresh();
}

void HotKeyRecorder::hideEvent(QHideEvent* event) {
    stop();
    QWidget::hideEvent(event);
}

}  // namespace kestrune
