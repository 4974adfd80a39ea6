#include "shell/settings/KeyRecorderFrame.hpp"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/linux/x11/KeyCodeMap.hpp"
#include "shell/settings/SettingsStyle.hpp"

namespace kestrune {

KeyRecorderFrame::KeyRecorderFrame(Names names, QWidget* parent) : QWidget(parent) {
    display_ = new QLabel;
    display_->setObjectName(names.display);
    button_ = new QPushButton;
    button_->setObjectName(names.button);
    caption_ = new QLabel;
    caption_->setObjectName(names.caption);
    settings_style::makeCaption(caption_);

    row_ = new QHBoxLayout;
    row_->setContentsMargins(0, 0, 0, 0);
    row_->addWidget(display_, 1);
    row_->addWidget(button_);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->addLayout(row_);
    column->addWidget(caption_);

    connect(button_, &QPushButton::clicked, this, [this] {
        if (isRecording()) {
            stop();
        } else {
            start();
        }
    });
}

KeyRecorderFrame::~KeyRecorderFrame() {
    releaseGrab();
}

void KeyRecorderFrame::start() {
    if (isRecording()) return;
    beginRecording();
    grabKeyboard();
    grabbing_ = true;
    refresh();
}

void KeyRecorderFrame::stop() {
    if (!isRecording()) return;
    releaseGrab();
    endRecording();
    refresh();
}

void KeyRecorderFrame::releaseGrab() {
    if (!grabbing_) return;
    releaseKeyboard();
    grabbing_ = false;
}

void KeyRecorderFrame::addButton(QPushButton* button) {
    row_->addWidget(button);
}

bool KeyRecorderFrame::event(QEvent* event) {
    // While recording every key is ours: no shortcut (Escape closing the window) may take it.
    if (event->type() == QEvent::ShortcutOverride && isRecording()) {
        event->accept();
        return true;
    }
    return QWidget::event(event);
}

void KeyRecorderFrame::keyPressEvent(QKeyEvent* event) {
    if (!isRecording()) {
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
    if (event->isAutoRepeat()) return;
    // The X keycode names the physical key whatever the layout; the catalog code comes from it.
    const auto keyCode = x11::virtualKeyCodeForXKeycode(static_cast<int>(event->nativeScanCode()));
    if (!keyCode) return;
    recordKey(*keyCode, event->modifiers());
    refresh();
}

void KeyRecorderFrame::hideEvent(QHideEvent* event) {
    stop();
    QWidget::hideEvent(event);
}

}  // namespace kestrune
