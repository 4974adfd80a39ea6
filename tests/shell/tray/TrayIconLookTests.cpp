// The status icons built into the program, drawn on a light and on a dark panel as a user sees
// them; MURRELO_SCREENSHOT_DIR keeps the pictures for the documentation.
#include <gtest/gtest.h>

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QPainter>
#include <cstdlib>
#include <string>

#include "tests/support/QtTestApplication.hpp"

namespace kestrune {
namespace {

// The size a panel gives a status icon, and a panel's height around it.
constexpr int kIconSize = 22;
constexpr int kPanelHeight = 32;
constexpr const char* kIcons[] = {":/icons/microphone.svg", ":/icons/radio-waves.svg"};

double lightness(QRgb pixel) {
    return (0.2126 * qRed(pixel) + 0.7152 * qGreen(pixel) + 0.0722 * qBlue(pixel)) / 255.0;
}

// A strip of panel with every icon on it, two icon widths apart.
QImage panel(QColor colour) {
    QImage strip(kPanelHeight * 2 * std::size(kIcons), kPanelHeight, QImage::Format_RGB32);
    strip.fill(colour);
    QPainter painter(&strip);
    int x = (kPanelHeight - kIconSize) / 2;
    for (const char* name : kIcons) {
        QIcon(name).paint(&painter, x, (kPanelHeight - kIconSize) / 2, kIconSize, kIconSize);
        x += 2 * kPanelHeight;
    }
    return strip;
}

TEST(TrayIconLook, EachIconStandsOutOnLightAndOnDarkPanels) {
    testing::widgetsApplication();
    const char* docs = std::getenv("MURRELO_SCREENSHOT_DIR");
    for (auto [name, colour] : {std::pair{"light", QColor(0xf2, 0xf2, 0xf2)},
                                std::pair{"dark", QColor(0x24, 0x24, 0x24)}}) {
        const QImage strip = panel(colour);
        const double background = lightness(colour.rgb());
        for (std::size_t icon = 0; icon < std::size(kIcons); ++icon) {
            // Pixels of the icon far from the panel's lightness: the shape a user can make out.
            int standing = 0;
            for (int y = 0; y < kPanelHeight; ++y) {
                for (int x = 0; x < kPanelHeight; ++x) {
                    const QRgb pixel =
                        strip.pixel(static_cast<int>(icon) * 2 * kPanelHeight + x, y);
                    standing += std::abs(lightness(pixel) - background) > 0.5;
                }
            }
            EXPECT_GE(standing, kIconSize * kIconSize / 8)
                << kIcons[icon] << " on a " << name << " panel";
        }
        if (docs) {
            strip.scaled(strip.size() * 4, Qt::KeepAspectRatio, Qt::FastTransformation)
                .save(QString::fromStdString(std::string(docs) + "/tray-icons-" + name +
                                             "-panel.png"));
        }
    }
}

}  // namespace
}  // namespace kestrune
