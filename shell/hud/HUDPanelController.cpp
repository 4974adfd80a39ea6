#include "shell/hud/HUDPanelController.hpp"

#include <QApplication>
#include <QCursor>
#include <QEasingCurve>
#include <QFontMetricsF>
#include <QGraphicsEffect>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>
#include <QRegion>
#include <QScreen>
#include <QVariantAnimation>
#include <QWidget>

#include <vector>

#include "Kestrune/dictation/panel/HUDPanelLayout.hpp"
#include "Kestrune/dictation/panel/PanelAnimationCurves.hpp"
#include "Kestrune/settings/ui/InterfaceLanguageSignal.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "KestruneRemoteKit/Support/Log.hpp"
#include "platform/linux/qt/X11WindowRoles.hpp"
#include "shell/hud/WaveformView.hpp"

namespace kestrune {

using hud::HUDPanelLayout;
using hud::PanelAnimation;

namespace {

// The label: the platform's interface font at 15 pixels, medium weight.
constexpr int kTextPixels = 15;
// The background: near-black, a little lighter at the top, translucent enough to show the
// desktop's colour through it but dark enough that white text stays legible over a white page.
// Without a compositing manager one opaque colour between the two.
const QColor kTranslucentTop(44, 44, 50, 200);
const QColor kTranslucentBottom(22, 22, 26, 220);
const QColor kOpaqueFill(36, 36, 40);
// A hairline of white at 8 % separates the panel from dark windows behind it.
const QColor kBorder(255, 255, 255, 20);

int milliseconds(double seconds) {
    return static_cast<int>(seconds * 1000 + 0.5);
}

QEasingCurve curve(QEasingCurve::EasingFunction function) {
    QEasingCurve easing;
    easing.setCustomType(function);
    return easing;
}

QPainterPath roundedOutline(const QRectF& rect) {
    QPainterPath path;
    const double radius = std::min<double>(HUDPanelLayout::kCornerRadius, rect.height() / 2);
    path.addRoundedRect(rect, radius, radius);
    return path;
}

// Transcripts may hold line breaks; the label shows one line.
QString oneLine(QString text) {
    for (QChar& c : text) {
        if (c == u'\n' || c == u'\r' || c == QChar(0x2028) || c == QChar(0x2029)) c = u' ';
    }
    return text;
}

}  // namespace

// The top-level window: frameless, above other windows, never focused, transparent for input.
// Without a compositing manager its shape is cut to the rounded outline.
class HUDPanelController::Panel final : public QWidget {
  public:
    void setRoundedMask(bool rounded) {
        roundedMask_ = rounded;
        updateMask();
    }

  protected:
    void resizeEvent(QResizeEvent*) override { updateMask(); }

  private:
    void updateMask() {
        if (!roundedMask_) {
            clearMask();
            return;
        }
        setMask(QRegion(roundedOutline(rect()).toFillPolygon().toPolygon()));
    }

    bool roundedMask_ = false;
};

// The rounded background holding the waveform and the label.
class HUDPanelController::Background final : public QWidget {
  public:
    void setTranslucent(bool translucent) {
        translucent_ = translucent;
        update();
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        // Half a pixel in, so the one-pixel border falls on whole pixels.
        const QRectF outline = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        painter.setPen(QPen(kBorder, 1));
        if (translucent_) {
            QLinearGradient fill(0, 0, 0, height());
            fill.setColorAt(0, kTranslucentTop);
            fill.setColorAt(1, kTranslucentBottom);
            painter.setBrush(fill);
        } else {
            painter.setBrush(kOpaqueFill);
        }
        painter.drawPath(roundedOutline(outline));
    }

  private:
    bool translucent_ = false;
};

// One line of text cut short with an ellipsis at the end when it is wider than the label.
class HUDPanelController::Label final : public QLabel {
  public:
    void setFullText(const QString& text) {
        fullText_ = text;
        setAccessibleName(text);
        elide();
    }
    const QString& fullText() const { return fullText_; }

  protected:
    void resizeEvent(QResizeEvent* event) override {
        QLabel::resizeEvent(event);
        elide();
    }

  private:
    void elide() { setText(fontMetrics().elidedText(fullText_, Qt::ElideRight, width())); }

    QString fullText_;
};

// Scales the background and everything on it about its centre, for the appear spring and the
// shrink while fading out.
class HUDPanelController::ScaleEffect final : public QGraphicsEffect {
  public:
    using QGraphicsEffect::QGraphicsEffect;

    void setScale(double scale) {
        if (scale == scale_) return;
        scale_ = scale;
        update();
    }
    double scale() const { return scale_; }

  protected:
    void draw(QPainter* painter) override {
        if (scale_ == 1.0) {
            drawSource(painter);
            return;
        }
        QPoint offset;
        const QPixmap picture = sourcePixmap(Qt::LogicalCoordinates, &offset, NoPad);
        const QPointF centre = QRectF(offset, picture.deviceIndependentSize()).center();
        painter->save();
        painter->setRenderHint(QPainter::SmoothPixmapTransform);
        painter->translate(centre);
        painter->scale(scale_, scale_);
        painter->translate(-centre);
        painter->drawPixmap(offset, picture);
        painter->restore();
    }

  private:
    double scale_ = 1.0;
};

HUDPanelController::HUDPanelController() : panel_(std::make_unique<Panel>()) {
    // A tool window of the notification type: no task bar entry, no window switching, placed by
    // us. It takes no focus and the X server sends clicks to the window below.
    panel_->setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowDoesNotAcceptFocus | Qt::WindowTransparentForInput);
    panel_->setAttribute(Qt::WA_ShowWithoutActivating);
    panel_->setAttribute(Qt::WA_X11DoNotAcceptFocus);
    // An ARGB window, so a compositing manager can blend the rounded corners and the background.
    panel_->setAttribute(Qt::WA_TranslucentBackground);
    panel_->setWindowTitle(QStringLiteral("Murrelo"));
    panel_->resize(HUDPanelLayout::kMinimumPanelWidth, HUDPanelLayout::kPanelHeight);

    background_ = new Background;
    auto* fill = new QHBoxLayout(panel_.get());
    fill->setContentsMargins(0, 0, 0, 0);
    fill->addWidget(background_);
    scale_ = new ScaleEffect(background_);
    background_->setGraphicsEffect(scale_);

    waveform_ = new WaveformView;
    nameForAssistiveTechnology();
    languageSubscription_ =
        InterfaceLanguageSignal::observe([this] { nameForAssistiveTechnology(); });
    label_ = new Label;
    QFont font = QApplication::font();
    font.setPixelSize(kTextPixels);
    font.setWeight(QFont::Medium);
    label_->setFont(font);
    QPalette palette = label_->palette();
    palette.setColor(QPalette::WindowText, Qt::white);
    label_->setPalette(palette);
    // The panel's width decides the label's, never the text.
    label_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    label_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    auto* row = new QHBoxLayout(background_);
    row->setContentsMargins(HUDPanelLayout::kWaveformLeading, 0, HUDPanelLayout::kTextTrailing, 0);
    row->setSpacing(HUDPanelLayout::kTextLeading);
    row->addWidget(waveform_, 0, Qt::AlignVCenter);
    row->addWidget(label_, 1);

    fade_ = new QPropertyAnimation(panel_.get(), "windowOpacity", panel_.get());
    QObject::connect(fade_, &QPropertyAnimation::finished, panel_.get(), [this] {
        if (fade_->endValue().toDouble() == 0.0) fadeOutFinished();
    });
    resize_ = new QPropertyAnimation(panel_.get(), "geometry", panel_.get());
    resize_->setDuration(milliseconds(PanelAnimation::kResizeDuration));
    resize_->setEasingCurve(curve(&PanelAnimation::easeInEaseOut));
    scaleAnimation_ = new QVariantAnimation(panel_.get());
    scaleAnimation_->setStartValue(0.0);
    scaleAnimation_->setEndValue(1.0);
}

HUDPanelController::~HUDPanelController() = default;

QWidget* HUDPanelController::window() const {
    return panel_.get();
}

QString HUDPanelController::text() const {
    return label_->fullText();
}

QString HUDPanelController::shownText() const {
    return label_->text();
}

void HUDPanelController::show(const std::string& text) {
    const QString shown = text.empty() ? QString::fromStdString(localized("Listening…"))
                                       : oneLine(QString::fromStdString(text));
    const QRect frame = frameForCurrentScreen(shown);
    label_->setFullText(shown);
    if (frame.isEmpty()) {
        log(LogLevel::warning, "HUDPanel", "no screen to show the recording panel on");
        return;
    }
    if (isVisible_) {
        animateToFrame(frame);
        return;
    }
    isVisible_ = true;
    // A fade-out still running would order the panel out when it ends, hiding the text just
    // shown: it is stopped (without its completion) and the panel appears again from here.
    fade_->stop();
    scaleAnimation_->stop();
    resize_->stop();
    translucent_ = compositingManagerRunning();
    background_->setTranslucent(translucent_);
    panel_->setRoundedMask(!translucent_);
    panel_->setGeometry(frame);
    panel_->setWindowOpacity(0);
    if (!panel_->isVisible()) describeAsNotification(panel_->winId());
    panel_->show();
    panel_->raise();
    animateIn();
}

void HUDPanelController::showRefining() {
    show(localized("Refining…"));
    waveform_->step(0);
}

void HUDPanelController::hide() {
    if (!isVisible_) return;
    isVisible_ = false;
    if (translucent_) {
        scaleAnimation_->stop();
        scaleAnimation_->setDuration(milliseconds(PanelAnimation::kFadeOutDuration));
        scaleAnimation_->setEasingCurve(curve(&PanelAnimation::easeInEaseOut));
        scaleAnimation_->disconnect();
        QObject::connect(
            scaleAnimation_, &QVariantAnimation::valueChanged, panel_.get(),
            [this](const QVariant& value) {
                scale_->setScale(1 - (1 - PanelAnimation::kDisappearToScale) * value.toDouble());
            });
        scaleAnimation_->start();
    }
    fade_->stop();
    fade_->setDuration(milliseconds(PanelAnimation::kFadeOutDuration));
    fade_->setStartValue(panel_->windowOpacity());
    fade_->setEndValue(0.0);
    fade_->start();
}

void HUDPanelController::updateLevel(double level) {
    waveform_->step(level);
}

QRect HUDPanelController::frameForCurrentScreen(const QString& text) const {
    const auto screens = QGuiApplication::screens();
    std::vector<hud::PanelRect> areas;
    std::optional<std::size_t> primary;
    for (std::size_t i = 0; i < static_cast<std::size_t>(screens.size()); ++i) {
        const QRect area = screens[i]->geometry();
        areas.push_back({area.x(), area.y(), area.width(), area.height()});
        if (screens[i] == QGuiApplication::primaryScreen()) primary = i;
    }
    const QPoint pointer = QCursor::pos();
    const auto chosen = HUDPanelLayout::screenFor(pointer.x(), pointer.y(), areas, primary);
    if (!chosen) return {};
    const QRect available = screens[static_cast<qsizetype>(*chosen)]->availableGeometry();
    const int width =
        HUDPanelLayout::panelWidth(QFontMetricsF(label_->font()).horizontalAdvance(text));
    const auto frame = HUDPanelLayout::frameOnScreen(
        {available.x(), available.y(), available.width(), available.height()}, width);
    return {frame.x, frame.y, frame.width, frame.height};
}

void HUDPanelController::animateIn() {
    scaleAnimation_->disconnect();
    if (translucent_) {
        // The spring's overshoot is in its own curve, so the animation runs linearly in time.
        scale_->setScale(PanelAnimation::kAppearFromScale);
        scaleAnimation_->setDuration(milliseconds(PanelAnimation::kAppearDuration));
        scaleAnimation_->setEasingCurve(QEasingCurve::Linear);
        QObject::connect(scaleAnimation_, &QVariantAnimation::valueChanged, panel_.get(),
                         [this](const QVariant& value) {
                             scale_->setScale(PanelAnimation::appearScale(value.toDouble()));
                         });
        QObject::connect(scaleAnimation_, &QVariantAnimation::finished, panel_.get(),
                         [this] { scale_->setScale(1.0); });
        scaleAnimation_->start();
    } else {
        // Without a compositing manager whatever the shrunken background uncovers would show
        // black: the opaque panel keeps its size.
        scale_->setScale(1.0);
    }
    fade_->setDuration(milliseconds(PanelAnimation::kFadeInDuration));
    fade_->setStartValue(0.0);
    fade_->setEndValue(1.0);
    fade_->start();
}

void HUDPanelController::animateToFrame(const QRect& frame) {
    if (resize_->state() == QAbstractAnimation::Running && resize_->endValue().toRect() == frame)
        return;
    resize_->stop();
    if (panel_->geometry() == frame) return;
    resize_->setStartValue(panel_->geometry());
    resize_->setEndValue(frame);
    resize_->start();
}

void HUDPanelController::nameForAssistiveTechnology() {
    panel_->setAccessibleName(QString::fromStdString(localized("Dictation status")));
    waveform_->setAccessibleName(QString::fromStdString(localized("Microphone level")));
}

void HUDPanelController::fadeOutFinished() {
    panel_->hide();
    scale_->setScale(1.0);
    waveform_->step(0);
}

}  // namespace kestrune
