#pragma once

#include <functional>
#include <vector>

#include <QComboBox>

#include "Kestrune/dictation/keys/TriggerKey.hpp"

namespace kestrune {

// The push-to-talk key choice: the presets this session can watch, preceded by the current key
// when it is none of them. Choosing an option reports the key; the shown key changes only through
// setCurrentKey, so the owner decides what is stored. GUI thread only.
class TriggerKeyPicker final : public QComboBox {
  public:
    struct Dependencies {
        // Called after the user chose a key other than the current one.
        std::function<void(TriggerKey)> onChange;
    };

    explicit TriggerKeyPicker(Dependencies dependencies, QWidget* parent = nullptr);

    // Rebuilds the options around `key` and selects it.
    void setCurrentKey(const TriggerKey& key);
    const TriggerKey& currentKey() const { return current_; }
    // The options in their shown order.
    const std::vector<TriggerKey>& choices() const { return choices_; }

    // Titles again in the interface language (after a language switch).
    void retranslate();

  private:
    void rebuild();
    void chosen(int index);

    Dependencies dependencies_;
    TriggerKey current_;
    std::vector<TriggerKey> choices_;
    bool rebuilding_ = false;
};

}  // namespace kestrune
