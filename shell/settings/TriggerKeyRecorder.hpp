#pragma once

#include <functional>

#include "Kestrune/settings/ui/TriggerKeyRecording.hpp"
#include "shell/settings/KeyRecorderFrame.hpp"

namespace kestrune {

// Records the push-to-talk key: the next key pressed (modifier keys included) is mapped back to
// the key catalog and offered to `onCapture`.
class TriggerKeyRecorder final : public KeyRecorderFrame {
  public:
    struct Dependencies {
        std::function<TriggerKey()> current;
        std::function<void(TriggerKey)> onCapture;
    };

    explicit TriggerKeyRecorder(Dependencies dependencies, QWidget* parent = nullptr);

    void refresh() override;

  private:
    bool isRecording() const override { return recording_.isRecording(); }
    void beginRecording() override { recording_.start(); }
    void endRecording() override { recording_.stop(); }
    void recordKey(std::int64_t keyCode, Qt::KeyboardModifiers modifiers) override;

    Dependencies dependencies_;
    TriggerKeyRecording recording_;
};

}  // namespace kestrune
