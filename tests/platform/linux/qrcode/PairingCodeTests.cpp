// The pairing link drawn as a QR code, read back by a scanner.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "KestruneRemoteKit/Protocol/PairingPayload.hpp"
#include "platform/linux/qrcode/PairingQRCode.hpp"
#include "tests/support/CommandOutput.hpp"
#include "tests/support/TemporaryDirectory.hpp"

namespace kestrune {
namespace {

// A scanner reads back exactly the link, whatever the scale.
TEST(PairingCode, ScannerReadsTheLinkBack) {
    if (std::system("command -v zbarimg >/dev/null") != 0) GTEST_SKIP() << "needs zbarimg";
    testing::TemporaryDirectory folder{"murrelo-qr"};
    const std::string link =
        PairingPayload("192.168.1.20", 50123,
                       "c0ffee00c0ffee00c0ffee00c0ffee00c0ffee00c0ffee00c0ffee00c0ffee00",
                       "0123456789abcdef0123456789abcdef01234567", "Ana’s Desk — 书房")
            .encoded();
    for (int scale : {1, 3, 10}) {
        const auto bitmap = PairingQRCode::image(link, scale);
        ASSERT_TRUE(bitmap);
        EXPECT_EQ(bitmap->width, bitmap->height);
        EXPECT_EQ(bitmap->width % scale, 0);
        // Light all around: the quiet zone.
        for (int i = 0; i < bitmap->width; ++i) {
            ASSERT_EQ(bitmap->pixels[static_cast<std::size_t>(i)], 255);
            ASSERT_EQ(bitmap->pixels[static_cast<std::size_t>(i) * bitmap->width], 255);
        }
        if (scale == 1) continue;  // too small for a camera-minded scanner
        const auto file = folder / ("code-" + std::to_string(scale) + ".pgm");
        std::ofstream out(file, std::ios::binary);
        out << "P5\n" << bitmap->width << " " << bitmap->height << "\n255\n";
        out.write(reinterpret_cast<const char*>(bitmap->pixels.data()),
                  static_cast<std::streamsize>(bitmap->pixels.size()));
        out.close();
        auto scanned = testing::commandOutput("zbarimg --raw -q " + file.string());
        while (!scanned.empty() && scanned.back() == '\n') scanned.pop_back();
        EXPECT_EQ(scanned, link) << "scale " << scale;
        const auto decoded = PairingPayload::decode(scanned);
        ASSERT_TRUE(decoded.ok());
        EXPECT_EQ(decoded->name, "Ana’s Desk — 书房");
    }
    EXPECT_FALSE(PairingQRCode::image(link, 0));
    EXPECT_FALSE(PairingQRCode::image(std::string(8000, 'x'), 10)) << "beyond any QR version";
}

}  // namespace
}  // namespace kestrune
