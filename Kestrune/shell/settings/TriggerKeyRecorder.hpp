#pragma once

#include <functional>

#include <QWidget>

#include "Kestrune/settings/ui/TriggerKeyRecording.hpp"

class QLabel;
class QPushButton;

namespace kestrune {

// Records the push-to-talk key: the next key pressed (modifier keys included) is read from its X
// keycode, mapped back to the key catalog and offered to `onCapture`. The keyboard is grabbed
// while recording, so the key reaches nothing else and Escape does not close the window. GUI
// thread only.
class TriggerKeyRecorder final : public QWidget {
  public:
    struct Dependencies {
        std::function<TriggerKey()> current;
        std::function<void(TriggerKey)> onCapture;
    };

    explicit TriggerKeyRecorder(Dependencies dependencies, QWidget* parent = nullptr);
    ~TriggerKeyRecorder() override;

    void start();
    void stop();
    // Shows the current key and message again (after the key or the language changed).
    void refresh();

  protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void hideEvent(QHideEvent* event) override;

  private:
    Dependencies dependencies_;
    TriggerKeyRecording recording_;
    QLabel* display_;
    QPushButton* button_;
    QLabel* hint_;
};

}  // namespace kestrune
