#include "shell/common/TextStyle.hpp"

#include <utility>

#include "KestruneRemoteKit/L10n/L10n.hpp"

namespace kestrune::text_style {

namespace {

// How much of the window text's colour secondary text keeps.
constexpr float kSecondaryAlpha = 0.65f;

}  // namespace

QString localizedText(std::string_view key) {
    return QString::fromStdString(localized(key));
}

QFont pixelFont(QFont base, int pixels) {
    base.setPixelSize(pixels);
    return base;
}

QFont pixelFont(QFont base, int pixels, QFont::Weight weight) {
    base.setWeight(weight);
    return pixelFont(std::move(base), pixels);
}

QColor secondaryColor(const QPalette& palette) {
    QColor faint = palette.color(QPalette::WindowText);
    faint.setAlphaF(kSecondaryAlpha);
    return faint;
}

QPalette withSecondaryText(QPalette palette) {
    palette.setColor(QPalette::WindowText, secondaryColor(palette));
    return palette;
}

}  // namespace kestrune::text_style
