#pragma once

#include <QColor>
#include <QFont>
#include <QFontDatabase>
#include <QLabel>
#include <QPalette>
#include <QString>

#include <string>

#include "shell/common/TextStyle.hpp"

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
    label->setFont(text_style::pixelFont(label->font(), pixels));
    label->setWordWrap(true);
    label->setPalette(text_style::withSecondaryText(label->palette()));
}

inline void makeBody(QLabel* label) {
    label->setFont(text_style::pixelFont(label->font(), kBodyPixels));
}

// A recorded key or shortcut: monospaced, in the accent colour while recording.
inline void makeValue(QLabel* label, bool highlighted) {
    label->setFont(
        text_style::pixelFont(QFontDatabase::systemFont(QFontDatabase::FixedFont), kValuePixels));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, highlighted
                                               ? palette.color(QPalette::Highlight)
                                               : palette.color(QPalette::Active, QPalette::Text));
    label->setPalette(palette);
}

}  // namespace kestrune::settings_style
