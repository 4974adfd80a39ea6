#include "shell/welcome/WelcomeView.hpp"

#include <QApplication>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "Kestrune/settings/welcome/WelcomeModel.hpp"
#include "platform/linux/qrcode/PairingQRCode.hpp"
#include "shell/common/TextStyle.hpp"
#include "shell/common/TriggerKeyPicker.hpp"

namespace kestrune {

namespace {

using namespace text_style;

// Sizes in device-independent pixels: the 520-wide layout is measured in them, and point sizes
// would grow with the screen's DPI setting until the lines no longer fit.
constexpr int kInsets = 24;
constexpr int kStepSpacing = 20;
constexpr int kLineSpacing = 8;
constexpr int kBodyPixels = 13;
constexpr int kTitlePixels = 14;
constexpr int kStatusPixels = 12;
constexpr int kBadgeSide = 22;
// The step text starts after the number badge and this gap.
constexpr int kBadgeGap = 10;
constexpr int kTranscriptMinimumHeight = 56;
constexpr int kTranscriptPadding = 10;
// White around the code, beyond its own quiet zone, so it stands out from a dark theme.
constexpr int kCodePadding = 6;
constexpr QRgb kGrantedGreen = 0xff2e9e44;

QLabel* wrappedLabel(const QString& text, int pixels, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setFont(pixelFont(label->font(), pixels));
    return label;
}

// The step number in a filled circle of the accent colour.
QLabel* badge(int number, QWidget* parent) {
    const qreal ratio = qApp->devicePixelRatio();
    QPixmap pixmap(QSize(kBadgeSide, kBadgeSide) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(parent->palette().color(QPalette::Highlight));
    painter.drawEllipse(QRectF(0, 0, kBadgeSide, kBadgeSide));
    painter.setPen(Qt::white);
    painter.setFont(pixelFont(parent->font(), kBodyPixels, QFont::Bold));
    painter.drawText(QRectF(0, 0, kBadgeSide, kBadgeSide), Qt::AlignCenter,
                     QString::number(number));
    painter.end();
    auto* label = new QLabel(parent);
    label->setPixmap(pixmap);
    label->setFixedSize(kBadgeSide, kBadgeSide);
    // The title beside it says which step this is; the badge is decoration.
    label->setAccessibleName(QString::number(number));
    return label;
}

// A step: its number beside its title, and the step's own rows under the title.
QVBoxLayout* addStep(QVBoxLayout* content, int number, const QString& title, QWidget* parent) {
    auto* row = new QHBoxLayout;
    row->setSpacing(kBadgeGap);
    row->addWidget(badge(number, parent), 0, Qt::AlignTop);
    auto* column = new QVBoxLayout;
    column->setSpacing(kLineSpacing);
    auto* heading = new QLabel(title, parent);
    heading->setFont(pixelFont(parent->font(), kTitlePixels, QFont::DemiBold));
    heading->setMinimumHeight(kBadgeSide);
    column->addWidget(heading);
    row->addLayout(column, 1);
    content->addLayout(row);
    return column;
}

QPixmap codePixmap(std::string_view text, qreal ratio) {
    auto bitmap = PairingQRCode::image(text, WelcomeView::kCodeScale);
    if (!bitmap) return {};
    const QImage image(bitmap->pixels.data(), bitmap->width, bitmap->height, bitmap->width,
                       QImage::Format_Grayscale8);
    // Nearest-neighbour scaling: module edges stay sharp.
    QPixmap pixmap = QPixmap::fromImage(
        image.scaled(QSize(WelcomeView::kCodeSide, WelcomeView::kCodeSide) * ratio,
                     Qt::IgnoreAspectRatio, Qt::FastTransformation));
    pixmap.setDevicePixelRatio(ratio);
    return pixmap;
}

}  // namespace

WelcomeView::WelcomeView(Dependencies dependencies, QWidget* parent) : QWidget(parent) {
    setFixedWidth(kWidth);
    auto* content = new QVBoxLayout(this);
    content->setContentsMargins(kInsets, kInsets, kInsets, kInsets);
    content->setSpacing(kStepSpacing);

    auto* tagline = wrappedLabel(
        localizedText("Hold a key, speak, and your words are typed wherever your cursor is."),
        kBodyPixels, this);
    content->addWidget(tagline);

    // Step 1: can Murrelo type and watch keys in this session?
    auto* step1 = addStep(content, 1, localizedText("Allow Accessibility"), this);
    step1->addWidget(wrappedLabel(
        localizedText("Murrelo needs it to notice the key you hold and to type the text for you."),
        kBodyPixels, this));
    auto* checkRow = new QHBoxLayout;
    checkAgain_ = new QPushButton(localizedText("Check Again"), this);
    checkAgain_->setAutoDefault(false);
    checkRow->addWidget(checkAgain_);
    status_ = new QLabel(this);
    checkRow->addSpacing(kLineSpacing);
    checkRow->addWidget(status_);
    checkRow->addStretch(1);
    step1->addLayout(checkRow);
    remedy_ = wrappedLabel(QString(), kStatusPixels, this);
    remedy_->setVisible(false);
    step1->addWidget(remedy_);

    // Step 2: the push-to-talk key, and where a dictation shows up while this window is open.
    auto* step2 = addStep(content, 2, localizedText("Try It"), this);
    step2->addWidget(wrappedLabel(
        localizedText(
            "Hold the key and say something. While this window is open, the text shows up here "
            "instead of being typed. The first time, Murrelo checks that a microphone and a speech "
            "engine are available."),
        kBodyPixels, this));
    // The key and the language the recognizer listens for, their labels in one column: a first
    // try in the wrong language gives nothing useful.
    auto* choices = new QGridLayout;
    choices->setHorizontalSpacing(kLineSpacing);
    choices->setColumnStretch(2, 1);
    auto* keyLabel = new QLabel(localizedText("Push-to-Talk Key"), this);
    keyLabel->setFont(pixelFont(keyLabel->font(), kBodyPixels));
    picker_ = new TriggerKeyPicker({.onChange = dependencies.onTriggerKeyChange}, this);
    picker_->setCurrentKey(dependencies.currentKey);
    keyLabel->setBuddy(picker_);
    choices->addWidget(keyLabel, 0, 0);
    choices->addWidget(picker_, 0, 1);
    auto* languageLabel = new QLabel(localizedText("Speech Language"), this);
    languageLabel->setFont(pixelFont(languageLabel->font(), kBodyPixels));
    language_ = new QComboBox(this);
    language_->setObjectName("speechLanguage");
    language_->setAccessibleName(localizedText("Speech Language"));
    for (const auto language : kAllAppLanguages) {
        const auto name = displayName(language);
        language_->addItem(QString::fromUtf8(name.data(), static_cast<int>(name.size())),
                           static_cast<int>(language));
    }
    setCurrentLanguage(dependencies.currentLanguage);
    languageLabel->setBuddy(language_);
    connect(language_, &QComboBox::activated, this,
            [this, onChange = dependencies.onLanguageChange](int index) {
                if (onChange)
                    onChange(static_cast<AppLanguage>(language_->itemData(index).toInt()));
            });
    choices->addWidget(languageLabel, 1, 0);
    choices->addWidget(language_, 1, 1);
    step2->addLayout(choices);
    // Said before the first try, so that it does not have to fail first, with the way there.
    auto* hintRow = new QHBoxLayout;
    speechHint_ = wrappedLabel(QString(), kStatusPixels, this);
    speechHint_->setObjectName("speechHint");
    speechHint_->setVisible(false);
    hintRow->addWidget(speechHint_, 1);
    openSettings_ = new QPushButton(localizedText("Open Settings…"), this);
    openSettings_->setObjectName("openSettings");
    openSettings_->setAutoDefault(false);
    openSettings_->setVisible(false);
    connect(openSettings_, &QPushButton::clicked, this, [onOpen = dependencies.onOpenSettings] {
        if (onOpen) onOpen();
    });
    hintRow->addWidget(openSettings_, 0, Qt::AlignTop);
    step2->addLayout(hintRow);
    transcript_ = wrappedLabel(QString(), kBodyPixels, this);
    transcript_->setObjectName("transcript");
    transcript_->setMinimumHeight(kTranscriptMinimumHeight);
    transcript_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // Read-only: selectable for copying, but not a stop on the keyboard's way through the window.
    transcript_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Its name is what it shows (the dictated text or the placeholder); the step says what it is.
    transcript_->setAccessibleDescription(localizedText("Try It"));
    step2->addWidget(transcript_);

    // Step 3: the phone apps' page as a QR code.
    auto* step3 = addStep(content, 3, localizedText("Phone (Optional)"), this);
    auto* phoneRow = new QHBoxLayout;
    phoneRow->setSpacing(kStepSpacing);
    code_ = new QLabel(this);
    code_->setPixmap(codePixmap(WelcomeModel::kProductPageURL, devicePixelRatioF()));
    code_->setFixedSize(kCodeSide + 2 * kCodePadding, kCodeSide + 2 * kCodePadding);
    code_->setAlignment(Qt::AlignCenter);
    code_->setStyleSheet("QLabel { background: white; border-radius: 6px; }");
    code_->setAccessibleName(localizedText("QR code of the Murrelo website"));
    code_->setAccessibleDescription(QString::fromUtf8(WelcomeModel::kProductPageURL.data(),
                                                      WelcomeModel::kProductPageURL.size()));
    auto* phoneText = new QVBoxLayout;
    phoneText->setSpacing(kLineSpacing);
    phoneText->addWidget(wrappedLabel(
        localizedText(
            "Type into this computer from your phone, too. The phone apps for iOS and Android are "
            "on their way — scan to visit the website."),
        kBodyPixels, this));
    auto* pairNote =
        wrappedLabel(localizedText("Once installed, pair it in Settings → Phone Connection."),
                     kStatusPixels, this);
    pairNote->setPalette(withSecondaryText(pairNote->palette()));
    phoneText->addWidget(pairNote);
    phoneText->addStretch(1);
    phoneRow->addLayout(phoneText, 1);
    phoneRow->addWidget(code_, 0, Qt::AlignTop);
    step3->addLayout(phoneRow);

    auto* doneRow = new QHBoxLayout;
    doneRow->addStretch(1);
    done_ = new QPushButton(localizedText("Done"), this);
    done_->setDefault(true);
    doneRow->addWidget(done_);
    content->addLayout(doneRow);

    // Keyboard order follows the reading order.
    setTabOrder(checkAgain_, picker_);
    setTabOrder(picker_, language_);
    setTabOrder(language_, openSettings_);
    setTabOrder(openSettings_, done_);

    WelcomeModel& model = dependencies.model;
    connect(checkAgain_, &QPushButton::clicked, this, [&model] { model.checkAgain(); });
    connect(done_, &QPushButton::clicked, this, [onDone = dependencies.onDone] {
        if (onDone) onDone();
    });
    subscriptions_.push_back(
        model.accessibilityGranted().subscribe([this](bool granted) { showGranted(granted); }));
    subscriptions_.push_back(model.remedy().subscribe(
        [this, onHeightChange = dependencies.onHeightChange](const auto& text) {
            remedy_->setText(text ? localizedText(*text) : QString());
            const bool changed = remedy_->isVisibleTo(this) != text.has_value();
            remedy_->setVisible(text.has_value());
            if (changed && onHeightChange) onHeightChange();
        }));
    subscriptions_.push_back(model.speechHint().subscribe(
        [this, onHeightChange = dependencies.onHeightChange](const auto& text) {
            speechHint_->setText(text ? QString::fromStdString(*text) : QString());
            speechHint_->setAccessibleName(speechHint_->text());
            const bool changed = speechHint_->isVisibleTo(this) != text.has_value();
            speechHint_->setVisible(text.has_value());
            openSettings_->setVisible(text.has_value());
            if (changed && onHeightChange) onHeightChange();
        }));
    subscriptions_.push_back(
        model.lastTranscript().subscribe([this](const auto& text) { showTranscript(text); }));
}

void WelcomeView::setCurrentLanguage(AppLanguage language) {
    const int index = language_->findData(static_cast<int>(language));
    if (index >= 0) language_->setCurrentIndex(index);
}

void WelcomeView::setCurrentKey(const TriggerKey& key) {
    picker_->setCurrentKey(key);
}

void WelcomeView::showGranted(bool granted) {
    const QString text = granted ? localizedText("Allowed") : localizedText("Not allowed yet");
    const QColor colour = granted ? QColor(kGrantedGreen) : secondaryColor(palette());
    // A check mark in a circle when typing works, an empty circle while it does not.
    const QString symbol = granted ? "&#x2714;&#xFE0E;" : "&#x25CB;";
    status_->setFont(pixelFont(font(), kStatusPixels, granted ? QFont::Medium : QFont::Normal));
    status_->setText(QString("<span style=\"color:%1\">%2&nbsp;%3</span>")
                         .arg(colour.name(QColor::HexArgb), symbol, text.toHtmlEscaped()));
    status_->setAccessibleName(text);
}

void WelcomeView::showTranscript(const std::optional<std::string>& text) {
    transcript_->setText(text ? QString::fromStdString(*text)
                              : localizedText("Your words will appear here."));
    const QColor colour = text ? palette().color(QPalette::Text) : secondaryColor(palette());
    // The text-background colour with a separator-coloured border, like an input field.
    transcript_->setStyleSheet(
        QString("QLabel { background: palette(base); color: %1; border: "
                "1px solid palette(mid); border-radius: 4px; padding: %2px; }")
            .arg(colour.name(QColor::HexArgb))
            .arg(kTranscriptPadding));
}

}  // namespace kestrune
