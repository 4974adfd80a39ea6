#include "shell/settings/sections/PushToTalkSection.hpp"

#include <QFontDatabase>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTextDocument>
#include <QVBoxLayout>

#include "Kestrune/settings/SettingsStore.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"
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
    if (deps.compositorBindings) {
        // Murrelo sees keys only while one of its own windows has the focus here: the
        // compositor's bindings run push-to-talk for every other window.
        layout->addWidget(section_controls::caption(
            localized("In this Wayland session the compositor watches the key: add these lines "
                      "to its configuration (sway, or Hyprland below).")));
        bindings_ = new QPlainTextEdit;
        bindings_->setObjectName("compositorBindings");
        bindings_->setAccessibleName(QString::fromStdString(localized("Compositor key bindings")));
        bindings_->setReadOnly(true);
        bindings_->setLineWrapMode(QPlainTextEdit::NoWrap);
        bindings_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
        // All nine lines without scrolling: one line's height more than the text, for the frame,
        // the document's margins and the last line's descent.
        constexpr int kShownLines = 10;
        bindings_->setFixedHeight(bindings_->fontMetrics().lineSpacing() * kShownLines +
                                  2 * (bindings_->frameWidth() +
                                       static_cast<int>(bindings_->document()->documentMargin())));
        layout->addWidget(bindings_);
    }
    // The store publishes each value before it writes it: the lines are made from the values
    // published, not read back from the settings database.
    auto showLines = [this, lines = deps.compositorBindings](
                         const TriggerKey& key, const std::optional<GlobalHotKey>& shortcut) {
        if (bindings_) {
            bindings_->setPlainText(QString::fromStdString(lines(key, shortcut)).trimmed());
        }
    };
    following_ =
        deps.settings.triggerKey().subscribe([this, showLines, &deps](const TriggerKey& key) {
            picker_->setCurrentKey(key);
            recorder_->refresh();
            showLines(key, deps.settings.sendToPhoneHotKey().value());
        });
    if (bindings_) {
        followingShortcut_ = deps.settings.sendToPhoneHotKey().subscribe(
            [showLines, &deps](const std::optional<GlobalHotKey>& shortcut) {
                showLines(deps.settings.triggerKey().value(), shortcut);
            });
    }
}

}  // namespace kestrune
