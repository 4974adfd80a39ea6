#pragma once

#include <functional>
#include <optional>

#include "Kestrune/settings/ui/HotKeyRecording.hpp"
#include "shell/settings/KeyRecorderFrame.hpp"

namespace kestrune {

// Records the Send-to-Phone shortcut: the next key pressed with its modifiers, checked by the
// shortcut rules. The live shortcut is suspended while recording (`onRecordingChange`), so
// pressing it records it instead of sending the clipboard.
class HotKeyRecorder final : public KeyRecorderFrame {
  public:
    struct Dependencies {
        std::function<std::optional<GlobalHotKey>()> current;
        std::function<void(std::optional<GlobalHotKey>)> onChange;
        std::function<void(bool)> onRecordingChange;
    };

    explicit HotKeyRecorder(Dependencies dependencies, QWidget* parent = nullptr);
    ~HotKeyRecorder() override;

    void refresh() override;

  private:
    bool isRecording() const override { return recording_.isRecording(); }
    void beginRecording() override { recording_.start(); }
    void endRecording() override { recording_.stop(); }
    void recordKey(std::int64_t keyCode, Qt::KeyboardModifiers modifiers) override;

    Dependencies dependencies_;
    HotKeyRecording recording_;
    QPushButton* clear_;
};

}  // namespace kestrune
