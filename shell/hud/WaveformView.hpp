#pragma once

#include <QWidget>

#include "Kestrune/dictation/panel/WaveformBars.hpp"

class QVariantAnimation;

namespace kestrune {

// The recording panel's five bars, following the microphone level. Each level step moves the
// bars to their new heights in a short ease-out glide. GUI thread only.
class WaveformView final : public QWidget {
  public:
    explicit WaveformView(QWidget* parent = nullptr);
    ~WaveformView() override;

    // One smoothing step of the shown level toward `level` (clamped to 0…1), then new bars.
    void step(double level);
    // Places the bars for the current level with fresh shimmer; also run on every resize.
    void layoutBars();

    // Restarts the shimmer's random sequence from `seed`, so that a screenshot comes out the same
    // every time.
    void setShimmerSeed(std::uint32_t seed) { shimmer_ = hud::ShimmerSource(seed); }

    double displayedLevel() const { return displayedLevel_; }
    // Where the bars are heading (the end of the running glide).
    const hud::WaveformBars::Frames& targetBars() const { return to_; }

    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    hud::WaveformBars::Frames currentBars() const;

    double displayedLevel_ = 0;
    hud::ShimmerSource shimmer_;
    hud::WaveformBars::Frames from_{};
    hud::WaveformBars::Frames to_{};
    QVariantAnimation* glide_ = nullptr;
};

}  // namespace kestrune
