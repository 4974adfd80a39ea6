#include "shell/common/TriggerKeyPicker.hpp"

#include "Kestrune/settings/ui/TriggerKeyChoices.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"

namespace kestrune {

TriggerKeyPicker::TriggerKeyPicker(Dependencies dependencies, QWidget* parent)
    : QComboBox(parent),
      dependencies_(std::move(dependencies)),
      current_(TriggerKey::presets().front()) {
    connect(this, &QComboBox::activated, this, [this](int index) { chosen(index); });
    rebuild();
}

void TriggerKeyPicker::setCurrentKey(const TriggerKey& key) {
    current_ = key;
    rebuild();
}

void TriggerKeyPicker::retranslate() {
    rebuild();
}

void TriggerKeyPicker::rebuild() {
    rebuilding_ = true;
    choices_ = SettingsControls::triggerKeyChoices(current_);
    clear();
    int selected = 0;
    for (std::size_t i = 0; i < choices_.size(); ++i) {
        addItem(QString::fromStdString(SettingsControls::title(choices_[i])),
                QString::fromStdString(choices_[i].persistedValue()));
        if (choices_[i] == current_) selected = static_cast<int>(i);
    }
    setCurrentIndex(selected);
    setAccessibleName(QString::fromStdString(localized("Push-to-Talk Key")));
    rebuilding_ = false;
}

void TriggerKeyPicker::chosen(int index) {
    if (rebuilding_ || index < 0) return;
    // The stored form is the option's value, so what is parsed is exactly what was offered.
    const auto key = TriggerKey::fromPersistedValue(itemData(index).toString().toStdString());
    if (!key || *key == current_) return;
    if (dependencies_.onChange) dependencies_.onChange(*key);
}

}  // namespace kestrune
