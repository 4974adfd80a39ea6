#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QString>

#include <string_view>

// Text conventions the windows share, so that their secondary lines and sizes look alike.
namespace kestrune::text_style {

// A text from the string tables in the interface language, as Qt takes it.
QString localizedText(std::string_view key);

// Sizes are in device-independent pixels: the windows' fixed layouts are measured in them, and
// point sizes would grow with the screen's DPI setting until the lines no longer fit.
QFont pixelFont(QFont base, int pixels);
QFont pixelFont(QFont base, int pixels, QFont::Weight weight);

// Secondary text: the window text, fainter, as the platform's secondary labels are.
QColor secondaryColor(const QPalette& palette);

// `palette` with its window text in the secondary colour.
QPalette withSecondaryText(QPalette palette);

}  // namespace kestrune::text_style
