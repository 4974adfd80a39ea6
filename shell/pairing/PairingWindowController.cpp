#include "shell/pairing/PairingWindowController.hpp"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <QVBoxLayout>
#include <QWidget>

#include "platform/linux/qrcode/PairingQRCode.hpp"
#include "shell/common/ClosingWindow.hpp"
#include "shell/common/TextStyle.hpp"

namespace kestrune {

namespace {

using namespace text_style;

constexpr int kInsets = 20;
constexpr int kSpacing = 12;
constexpr int kExplanationWidth = 300;
// Text sizes in device-independent pixels, for the fixed 340 × 420 layout.
constexpr int kHeadingPixels = 14;
constexpr int kSmallPixels = 11;

}  // namespace

PairingWindowController::PairingWindowController() : window_(std::make_unique<ClosingWindow>()) {
    window_->setWindowTitle(localizedText("Pair a Phone"));
    window_->setFixedSize(kWidth, kHeight);

    auto* heading = new QLabel(localizedText("Scan with Murrelo on your phone"));
    heading->setFont(pixelFont(heading->font(), kHeadingPixels, QFont::Bold));
    heading->setAlignment(Qt::AlignHCenter);

    auto* explanation = new QLabel(localizedText(
        "Your phone must be on the same network as this computer. The code changes "
        "every minute and works once; you will be asked to confirm on this computer."));
    explanation->setFont(pixelFont(explanation->font(), kSmallPixels));
    explanation->setWordWrap(true);
    explanation->setFixedWidth(kExplanationWidth);
    explanation->setAlignment(Qt::AlignHCenter);
    explanation->setPalette(withSecondaryText(explanation->palette()));

    code_ = new QLabel;
    code_->setFixedSize(kCodeSide, kCodeSide);
    code_->setAlignment(Qt::AlignCenter);

    address_ = new QLabel;
    address_->setFont(pixelFont(QFontDatabase::systemFont(QFontDatabase::FixedFont), kSmallPixels));
    address_->setPalette(withSecondaryText(address_->palette()));
    address_->setAlignment(Qt::AlignHCenter);
    address_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* layout = new QVBoxLayout(window_.get());
    layout->setContentsMargins(kInsets, kInsets, kInsets, kInsets);
    layout->setSpacing(kSpacing);
    for (QWidget* item : {static_cast<QWidget*>(heading), static_cast<QWidget*>(explanation),
                          static_cast<QWidget*>(code_), static_cast<QWidget*>(address_)}) {
        layout->addWidget(item, 0, Qt::AlignHCenter);
    }
    layout->addStretch(1);

    window_->onClose = [this] { closed_.notify(); };
}

PairingWindowController::~PairingWindowController() {
    window_->onClose = nullptr;
}

void PairingWindowController::present(const std::string& address) {
    address_->setText(QString::fromStdString(address));
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        window_->move(area.center() - QPoint(kWidth / 2, kHeight / 2));
    }
    window_->show();
    window_->raise();
    window_->activateWindow();
}

void PairingWindowController::showLink(const std::string& link) {
    auto bitmap = PairingQRCode::image(link, kCodeScale);
    if (!bitmap) return;
    const QImage image(bitmap->pixels.data(), bitmap->width, bitmap->height, bitmap->width,
                       QImage::Format_Grayscale8);
    // Fitted into the code area; a deep copy, since the bitmap goes out of scope.
    const qreal ratio = code_->devicePixelRatioF();
    QPixmap pixmap = QPixmap::fromImage(image.scaled(
        QSize(kCodeSide, kCodeSide) * ratio, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    pixmap.setDevicePixelRatio(ratio);
    code_->setPixmap(pixmap);
    shownLink_ = link;
}

void PairingWindowController::close() {
    window_->close();
}

bool PairingWindowController::isVisible() const {
    return window_->isVisible();
}

Subscription PairingWindowController::observeClose(std::function<void()> observer) {
    return closed_.add(std::move(observer));
}

QWidget* PairingWindowController::window() const {
    return window_.get();
}

}  // namespace kestrune
