#pragma once

#include <functional>
#include <optional>

#include <QWidget>

#include "Kestrune/settings/ui/HotKeyRecording.hpp"

class QLabel;
class QPushButton;

namespace kestrune {

// Records the Send-to-Phone shortcut: the next key pressed with its modifiers, checked by the
// shortcut rules. The live shortcut is suspended while recording (`onRecordingChange`), so
// pressing it records it instead of sending the clipboard. GUI thread only.
class HotKeyRecorder final : public QWidget {
  public:
    struct Dependencies {
        std::function<std::optional<GlobalHotKey>()> current;
        std::function<void(std::optional<GlobalHotKey>)> onChange;
        std::function<void(bool)> onRecordingChange;
    };

    explicit HotKeyRecorder(Dependencies dependencies, QWidget* parent = nullptr);
    ~HotKeyRecorder() override;

    void start();
    void stop();
    void refresh();

  protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    Dependencies dependencies_;
    HotKeyRecording recording_;
    QLabel* display_;
    QPushButton* button_;
    QPushButton* clear_;
    QLabel* caption_;
};

}  // namespace kestrune
