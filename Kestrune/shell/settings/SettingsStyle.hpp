#pragma once

#include <QColor>
#include <QFont>
#include <QFontDatabase>
#include <QLabel>
#include <QPalette>
#include <QString>

#include <string>

namespace kestrune::settings_style {

// Text sizes in device-independent pixels, so the fixed 560-pixel width holds at any DPI.
inline constexpr int kCaptionPixels = 11;
inline constexpr int kBodyPixels = 12;
inline constexpr int kValuePixels = 13;
// The window's fixed width.
inline constexpr int kWindowWidth = 560;

inline QString qt(const std::string& text) {
    return QString::fromStdString(text);
}

// A caption: small and fainter, as secondary labels are.
inline void makeCaption(QLabel* label, int pixels = kCaptionPixels) {
    QFont font = label->font();
    font.setPixelSize(pixels);
    label->setFont(font);
    label->setWordWrap(true);
    QPalette palette = label->palette();
    QColor faint = palette.color(QPalette::WindowText);
    faint.setAlphaF(0.65f);
    palette.setColor(QPalette::WindowText, faint);
    label->setPalette(palette);
}

inline void makeBody(QLabel* label) {
    QFont font = label->font();
    font.setPixelSize(kBodyPixels);
    label->setFont(font);
}

// A recorded key or shortcut: monospaced, in the accent colour while recording.
inline void makeValue(QLabel* label, bool highlighted) {
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPixelSize(kValuePixels);
    label->setFont(mono);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, highlighted
                                               ? palette.color(QPalette::Highlight)
                                               : palette.color(QPalette::Active, QPalette::Text));
    label->setPalette(palette);
}

}  // namespace kestrune::settings_style
