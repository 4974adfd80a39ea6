#pragma once

#include <cstdint>

#include <QWidget>

class QHBoxLayout;
class QLabel;
class QPushButton;

namespace kestrune {

// What both key recorders share: the recorded value, a record button and a caption under them.
// While recording, the keyboard is grabbed (the key reaches nothing else and Escape does not close
// the window) and every key press, read from its X keycode as a catalog code, goes to `recordKey`.
// GUI thread only.
class KeyRecorderFrame : public QWidget {
  public:
    // Object names of the parts, by which tests and assistive technology find them.
    struct Names {
        const char* display;
        const char* button;
        const char* caption;
    };

    ~KeyRecorderFrame() override;

    void start();
    void stop();
    // Shows the current value and texts again (after the value or the language changed).
    virtual void refresh() = 0;

  protected:
    KeyRecorderFrame(Names names, QWidget* parent);

    virtual bool isRecording() const = 0;
    virtual void beginRecording() = 0;
    virtual void endRecording() = 0;
    // A key pressed while recording (never an auto-repeat), with the modifiers held.
    virtual void recordKey(std::int64_t keyCode, Qt::KeyboardModifiers modifiers) = 0;
    // Gives the keyboard back once recording has ended by itself.
    void releaseGrab();
    // Another button beside the record button.
    void addButton(QPushButton* button);

    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void hideEvent(QHideEvent* event) override;

    QLabel* display_;
    QPushButton* button_;
    QLabel* caption_;

  private:
    QHBoxLayout* row_;
    bool grabbing_ = false;
};

}  // namespace kestrune
