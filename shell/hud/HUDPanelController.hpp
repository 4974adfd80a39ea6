#pragma once

#include <QString>

#include <memory>
#include <string>

#include "Kestrune/dictation/coordinator/RecordingPanel.hpp"
#include "KestruneRemoteKit/Support/Subscription.hpp"

class QLabel;
class QPropertyAnimation;
class QRect;
class QVariantAnimation;
class QWidget;

namespace kestrune {

class WaveformView;

// The recording panel: a small rounded window near the bottom of the screen holding the pointer,
// with the waveform on the left and one line of text on the right. It never takes the keyboard
// focus and lets clicks through to the window below, so dictation never disturbs where the text
// goes. Translucent over the desktop when a compositing manager runs; an opaque rounded shape
// otherwise. Created once and kept; GUI thread only (the coordinator's main queue is the Qt event
// loop).
class HUDPanelController final : public RecordingPanel {
  public:
    HUDPanelController();
    ~HUDPanelController() override;
    HUDPanelController(const HUDPanelController&) = delete;
    HUDPanelController& operator=(const HUDPanelController&) = delete;

    // Appears with a spring on the screen holding the pointer, or, already visible, glides to
    // the width of the new text. An empty text reads "Listening…".
    void show(const std::string& text) override;
    // Shows "Refining…" and lets the bars fall one step.
    void showRefining() override;
    // Fades out; a show before the fade ends keeps the panel on screen.
    void hide() override;
    void updateLevel(double level) override;

    bool isVisible() const { return isVisible_; }
    // The panel's window, its label's whole text and the part of it shown (cut short with an
    // ellipsis when it is too wide), whether it draws translucently, and the waveform.
    QWidget* window() const;
    QString text() const;
    QString shownText() const;
    bool isTranslucent() const { return translucent_; }
    WaveformView* waveformView() const { return waveform_; }

    class Panel;
    class Background;
    class Label;
    class ScaleEffect;

  private:
    // The frame for `text` on the screen holding the pointer; empty with no screen at all.
    QRect frameForCurrentScreen(const QString& text) const;
    void animateIn();
    void animateToFrame(const QRect& frame);
    void fadeOutFinished();
    // The names a screen reader gives the panel and its waveform, in the interface language.
    void nameForAssistiveTechnology();

    std::unique_ptr<Panel> panel_;
    Background* background_ = nullptr;
    ScaleEffect* scale_ = nullptr;
    WaveformView* waveform_ = nullptr;
    Label* label_ = nullptr;
    QPropertyAnimation* fade_ = nullptr;
    QPropertyAnimation* resize_ = nullptr;
    QVariantAnimation* scaleAnimation_ = nullptr;
    bool isVisible_ = false;
    bool translucent_ = false;
    Subscription languageSubscription_;
};

}  // namespace kestrune
