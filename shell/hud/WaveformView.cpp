#include "shell/hud/WaveformView.hpp"

#include <QEasingCurve>
#include <QPainter>
#include <QVariantAnimation>

#include "Kestrune/dictation/panel/HUDPanelLayout.hpp"
#include "Kestrune/dictation/panel/PanelAnimationCurves.hpp"

namespace kestrune {

namespace {

// Bars in white, a touch translucent so they sit in the dark background instead of on it.
constexpr double kBarAlpha = 0.95;

}  // namespace

WaveformView::WaveformView(QWidget* parent) : QWidget(parent) {
    setFixedSize(hud::HUDPanelLayout::kWaveformWidth, hud::HUDPanelLayout::kWaveformHeight);
    setAttribute(Qt::WA_TranslucentBackground);

    glide_ = new QVariantAnimation(this);
    glide_->setStartValue(0.0);
    glide_->setEndValue(1.0);
    glide_->setDuration(static_cast<int>(hud::PanelAnimation::kBarUpdateDuration * 1000));
    QEasingCurve easing;
    easing.setCustomType(&hud::PanelAnimation::easeOut);
    glide_->setEasingCurve(easing);
    connect(glide_, &QVariantAnimation::valueChanged, this, [this] { update(); });
    layoutBars();
    from_ = to_;
}

WaveformView::~WaveformView() = default;

QSize WaveformView::sizeHint() const {
    return {hud::HUDPanelLayout::kWaveformWidth, hud::HUDPanelLayout::kWaveformHeight};
}

void WaveformView::step(double level) {
    displayedLevel_ = hud::WaveformBars::smoothed(displayedLevel_, level);
    layoutBars();
}

void WaveformView::layoutBars() {
    const auto bars =
        hud::WaveformBars::layout(width(), height(), displayedLevel_, shimmer_.next());
    if (!bars) return;
    // A new step starts from where the bars are drawn now, so a glide cut short never jumps.
    from_ = currentBars();
    to_ = *bars;
    glide_->stop();
    glide_->start();
    update();
}

hud::WaveformBars::Frames WaveformView::currentBars() const {
    if (glide_->state() != QAbstractAnimation::Running) return to_;
    const double t = glide_->currentValue().toDouble();
    hud::WaveformBars::Frames bars;
    for (std::size_t i = 0; i < bars.size(); ++i) {
        bars[i] = {.x = from_[i].x + (to_[i].x - from_[i].x) * t,
                   .y = from_[i].y + (to_[i].y - from_[i].y) * t,
                   .width = to_[i].width,
                   .height = from_[i].height + (to_[i].height - from_[i].height) * t};
    }
    return bars;
}

void WaveformView::resizeEvent(QResizeEvent*) {
    layoutBars();
}

void WaveformView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    QColor white(Qt::white);
    white.setAlphaF(kBarAlpha);
    painter.setBrush(white);
    for (const auto& bar : currentBars()) {
        painter.drawRoundedRect(QRectF(bar.x, bar.y, bar.width, bar.height),
                                hud::WaveformBars::kBarCornerRadius,
                                hud::WaveformBars::kBarCornerRadius);
    }
}

}  // namespace kestrune
