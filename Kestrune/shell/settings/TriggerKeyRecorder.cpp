#include "Kestrune/shell/settings/TriggerKeyRecorder.hpp"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "Kestrune/shell/settings/SettingsStyle.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "platform/linux/x11/KeyCodeMap.hpp"

namespace kestrune {

using settings_style::qt;

TriggerKeyRecorder::TriggerKeyRecorder(Dependencies dependencies, QWidget* parent)
    : QWidget(parent), dependencies_(std::move(dependencies)) {
    display_ = new QLabel;
    display_->setObjectName("triggerKeyDisplay");
    button_ = new QPushButton;
    button_->setObjectName("recordTriggerKey");
    hint_ = new QLabel;
    hint_->setObjectName("triggerKeyHint");
    settings_style::makeCaption(hint_);

    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(display_, 1);
    row->addWidget(button_);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->addLayout(row);
    column->addWidget(hint_);

    setFocusPolicy(Qt::NoFocus);
    connect(button_, &QPushButton::clicked, this, [this] {
        if (recording_.isRecording()) {
            stop();
        } else {
            start();
        }
    });
    refresh();
}

TriggerKeyRecorder::~TriggerKeyRecorder() {
    if (recording_.isRecording()) releaseKeyboard();
}

void TriggerKeyRecorder::start() {
    if (recording_.isRecording()) return;
    recording_.start();
    grabKeyboard();
    refresh();
}

void TriggerKeyRecorder::stop() {
    if (!recording_.isRecording()) return;
    recording_.stop();
    releaseKeyboard();
    refresh();
}

void TriggerKeyRecorder::refresh() {
    display_->setText(qt(recording_.display(dependencies_.current())));
    settings_style::makeValue(display_, recording_.isRecording());
    display_->setAccessibleName(qt(localized("Push-to-Talk Key")));
    button_->setText(qt(recording_.buttonTitle()));
    button_->setAccessibleName(button_->text());
    hint_->setText(qt(recording_.hint()));
}

bool TriggerKeyRecorder::event(QEvent* event) {
    // While recording every key is ours: no shortcut (Escape closing the window) may take it.
    if (event->type() == QEvent::ShortcutOverride && recording_.isRecording()) {
        event->accept();
        return true;
    }
    return QWidget::event(event);
}

void TriggerKeyRecorder::keyPressEvent(QKeyEvent* event) {
    if (!recording_.isRecording()) {
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
    if (event->isAutoRepeat()) return;
    // The X keycode names the physical key whatever the layout; the catalog code comes from it.
    const auto keyCode = x11::virtualKeyCodeForXKeycode(static_cast<int>(event->nativeScanCode()));
    if (!keyCode) return;
    const bool wasRecording = recording_.isRecording();
    const auto bound = recording_.handleKey(*keyCode);
    if (wasRecording && !recording_.isRecording()) releaseKeyboard();
    if (bound && dependencies_.onCapture) dependencies_.onCapture(*bound);
    refresh();
}

void TriggerKeyRecorder::hideEvent(QHideEvent* event) {
    stop();
    QWidget::hideEvent(event);
}

}  // namespace kestrune
