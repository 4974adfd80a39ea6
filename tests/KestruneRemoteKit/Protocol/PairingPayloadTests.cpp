#include <string>

#include <gtest/gtest.h>

#include "KestruneRemoteKit/Protocol/ComputerDiscovery.hpp"
#include "KestruneRemoteKit/Protocol/PairingPayload.hpp"

namespace kestrune {
namespace {

using F = PairingPayload::Failure;

const std::string kFingerprint = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

std::string link(std::string_view query) {
    return "kestrune://pair?" + std::string(query);
}
std::string withFingerprint(std::string_view before, std::string_view after = "&t=T") {
    return link(std::string(before) + "&f=" + kFingerprint + std::string(after));
}

TEST(PairingPayload, EncodesPairsInOrderWithOnlyLettersAndDigitsLeftPlain) {
    const PairingPayload payload("192.168.1.20", 52000, kFingerprint, "Ab3-x:y", "Studio");
    EXPECT_EQ(payload.encoded(), "kestrune://pair?h=192%2E168%2E1%2E20&p=52000&f=" + kFingerprint +
                                     "&t=Ab3%2Dx%3Ay&n=Studio");
    const PairingPayload unnamed("mac", 0, kFingerprint, "T");
    EXPECT_EQ(unnamed.encoded(), "kestrune://pair?h=mac&p=0&f=" + kFingerprint + "&t=T");
    const PairingPayload accented("mac", 1, kFingerprint, "T", "Caf\xC3\xA9 +1");
    EXPECT_EQ(accented.encoded(),
              "kestrune://pair?h=mac&p=1&f=" + kFingerprint + "&t=T&n=Caf%C3%A9%20%2B1");
}

TEST(PairingPayload, DecodeReportsTheFirstFailingCheck) {
    const std::pair<std::string, F> cases[] = {
        {"", F::wrongScheme()},
        {"KESTRUNE://pair?h=a", F::wrongScheme()},
        {"kestrune://PAIR?h=a", F::wrongScheme()},
        {"kestrune://pairing?h=a&p=1&f=" + kFingerprint + "&t=T", F::wrongScheme()},
        {" kestrune://pair?h=a", F::wrongScheme()},
        {"kestrune://pair", F::wrongScheme()},
        {link(""), F::missingField("h")},
        {link("h=&p=1"), F::missingField("h")},
        {link("H=mac&p=1"), F::missingField("h")},
        {link("h=fe80::1&p=x"), F::badHost()},
        {link("h=fe80%3A%3A1"), F::badHost()},
        {link("h=-mac.local"), F::badHost()},
        {link("h=mac-.local"), F::badHost()},
        {link("h=a..b"), F::badHost()},
        {link("h=mac.local."), F::badHost()},
        {link("h=" + std::string(64, 'a')), F::badHost()},
        {link("h=my%20mac"), F::badHost()},
        {link("h=my_mac"), F::badHost()},
        {link("h=m%C3%A4c"), F::badHost()},
        {link("h=mac"), F::missingField("p")},
        {link("h=mac&p="), F::missingField("p")},
        {link("h=mac&p=65536"), F::badPort()},
        {link("h=mac&p=abc"), F::badPort()},
        {link("h=mac&p=-1"), F::badPort()},
        {link("h=mac&p=%2080"), F::badPort()},
        {link("h=mac&p=80a"), F::badPort()},
        {link("h=mac&p=+"), F::badPort()},
        {link("h=mac&p=99999999999999999999"), F::badPort()},
        {link("h=mac&p=1"), F::missingField("f")},
        {link("h=mac&p=1&f=&t=T"), F::missingField("f")},
        {link("h=mac&p=1&t=T&f=" + kFingerprint.substr(1)), F::badFingerprint()},
        {link("h=mac&p=1&t=T&f=" + kFingerprint + "0"), F::badFingerprint()},
        {link("h=mac&p=1&t=T&f=g" + kFingerprint.substr(1)), F::badFingerprint()},
        {link("h=mac&p=1&f=" + kFingerprint), F::missingField("t")},
        {link("h=mac&p=1&f=" + kFingerprint + "&t="), F::missingField("t")},
        // A missing token is reported only after host, port and fingerprint passed.
        {link("h=a..b&p=1&f=" + kFingerprint), F::badHost()},
        {link("h=mac&p=x&f=" + kFingerprint), F::badPort()},
        {link("h=mac&p=1&f=xyz"), F::badFingerprint()},
    };
    for (const auto& [text, expected] : cases) {
        const auto result = PairingPayload::decode(text);
        ASSERT_FALSE(result.ok()) << "decoded: " << text;
        EXPECT_EQ(result.error(), expected)
            << text << " gave kind " << static_cast<int>(result.error().kind);
    }
}

TEST(PairingPayload, DecodeAcceptsWhatTheRulesAllow) {
    const auto decoded = [](const std::string& text) {
        const auto result = PairingPayload::decode(text);
        EXPECT_TRUE(result.ok()) << text;
        return result.ok() ? result.value() : PairingPayload("", 0, "", "");
    };
    EXPECT_EQ(decoded(withFingerprint("h=my-mac.local&p=0")),
              PairingPayload("my-mac.local", 0, kFingerprint, "T"));
    EXPECT_EQ(decoded(withFingerprint("h=mac&p=+080")).port, 80);
    EXPECT_EQ(decoded(withFingerprint("h=mac&p=-0")).port, 0);
    EXPECT_EQ(decoded(withFingerprint("h=mac&p=65535")).port, 65535);
    const std::string upper = "ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789ABCDEF0123456789";
    EXPECT_EQ(decoded(link("h=mac&p=1&f=" + upper + "&t=T")).fingerprint, upper);
    // Later pairs replace earlier ones; empty parts, parts without "=" and unknown keys go.
    const auto repeated =
        decoded(link("&&h=first&junk&h=second&p=1&x=y&f=" + kFingerprint + "&t=a=b&n=One&n=Two&"));
    EXPECT_EQ(repeated, PairingPayload("second", 1, kFingerprint, "a=b", "Two"));
    const std::string longestLabel(63, 'a');
    EXPECT_EQ(decoded(withFingerprint("h=" + longestLabel + "&p=1")).host, longestLabel);
    // A link of a few megabytes, nearly all distinct unknown keys, is read in one pass (reading it
    // pair by pair against every key seen so far would not finish).
    std::string crowded = "h=mac&p=1";
    for (int i = 0; i < 200'000; ++i) crowded += "&k" + std::to_string(i) + "=%41";
    EXPECT_EQ(decoded(withFingerprint(crowded)), PairingPayload("mac", 1, kFingerprint, "T"));
}

TEST(PairingPayload, PercentDecodingKeepsTheRawValueWhenItFails) {
    const auto token = [](std::string_view raw) {
        const auto result =
            PairingPayload::decode(withFingerprint("h=mac&p=1", "&t=" + std::string(raw)));
        return result.ok() ? result->token : std::string("<failed>");
    };
    EXPECT_EQ(token("%zz"), "%zz");
    EXPECT_EQ(token("a%4"), "a%4");
    EXPECT_EQ(token("%E9"), "%E9");  // a lone Latin-1 byte is not UTF-8
    EXPECT_EQ(token("%C3%A9%2b"), "\xC3\xA9+");
    EXPECT_EQ(token("a+b"), "a+b");
}

TEST(PairingPayload, NamesAreCleanedOnCreationAndOnDecoding) {
    const auto name = [](std::string_view raw) {
        return PairingPayload("mac", 1, kFingerprint, "T", raw).name;
    };
    EXPECT_EQ(name(std::string(50, 'x')), std::string(40, 'x'));
    EXPECT_EQ(name(" \t \xE3\x80\x80 \t"), std::nullopt);  // spaces, tabs, ideographic space
    EXPECT_EQ(name("\n Studio \xE2\x80\xA8"), "Studio");
    EXPECT_EQ(name("Stu\x07"
                   "di\xE2\x80\x8Bo\xC2\x85"),
              "Studio");                            // BEL, zero-width space, NEL
    EXPECT_EQ(name("\xEF\xBB\xBF"), std::nullopt);  // a byte-order mark only
    // Forty user-perceived characters, however many code points each takes.
    std::string accented, flags;
    for (int i = 0; i < 45; ++i) accented += "e\xCC\x81";  // e + combining acute
    for (int i = 0; i < 41; ++i) flags += "\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7";  // FR flag
    EXPECT_EQ(name(accented), accented.substr(0, 40 * 3));
    EXPECT_EQ(name(flags), flags.substr(0, 40 * 8));
    // A cut that ends on a space leaves no trailing space behind.
    EXPECT_EQ(name(std::string(39, 'a') + "  tail"), std::string(39, 'a'));

    const PairingPayload blank("mac", 1, kFingerprint, "T", "   ");
    EXPECT_EQ(blank.encoded().find("&n="), std::string::npos);
    const auto decoded = PairingPayload::decode(withFingerprint("h=mac&p=1", "&t=T&n=%20%09%20"));
    ASSERT_TRUE(decoded.ok());
    EXPECT_EQ(decoded->name, std::nullopt);
    const auto cut =
        PairingPayload::decode(withFingerprint("h=mac&p=1", "&t=T&n=" + std::string(50, 'z')));
    ASSERT_TRUE(cut.ok());
    EXPECT_EQ(cut->name, std::string(40, 'z'));
}

TEST(PairingPayload, EncodeThenDecodeGivesThePayloadBack) {
    const PairingPayload payloads[] = {
        {"192.168.1.20", 52000, kFingerprint, "T", "Studio"},
        {"my-mac.local", 0, "ABCDEF0123456789abcdef0123456789ABCDEF0123456789abcdef0123456789",
         "%zz&t=x=y +/", "Caf\xC3\xA9 \xF0\x9F\x98\x80 & Co = 100%"},
        {"a", 65535, kFingerprint, "\xE2\x82\xAC", std::nullopt},
        {"mac", 7, kFingerprint, "T", std::string(39, 'a') + " " + std::string(10, 'b')},
    };
    for (const PairingPayload& payload : payloads) {
        const auto back = PairingPayload::decode(payload.encoded());
        ASSERT_TRUE(back.ok()) << payload.encoded();
        EXPECT_EQ(back.value(), payload) << payload.encoded();
    }
}

TEST(PairingPayload, ConnectableHostLengthLimits) {
    std::string longest;
    while (longest.size() + 64 <= 253) longest += std::string(63, 'a') + ".";
    longest += std::string(253 - longest.size(), 'b');
    ASSERT_EQ(longest.size(), 253u);
    EXPECT_TRUE(PairingPayload::isConnectableHost(longest));
    EXPECT_FALSE(PairingPayload::isConnectableHost(longest + "b"));
    EXPECT_TRUE(PairingPayload::isConnectableHost("10.0.0.1"));
    EXPECT_TRUE(PairingPayload::isConnectableHost("x"));
    EXPECT_FALSE(PairingPayload::isConnectableHost(""));
    EXPECT_FALSE(PairingPayload::isConnectableHost("."));
    EXPECT_FALSE(PairingPayload::isConnectableHost("[::1]"));
}

TEST(ComputerDiscovery, MatchesThePinnedFingerprintIgnoringCaseOnly) {
    std::string upper = kFingerprint;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_TRUE(ComputerDiscovery::matchesPinnedFingerprint(kFingerprint, kFingerprint));
    EXPECT_TRUE(ComputerDiscovery::matchesPinnedFingerprint(upper, kFingerprint));
    EXPECT_TRUE(ComputerDiscovery::matchesPinnedFingerprint(kFingerprint, upper));
    EXPECT_FALSE(ComputerDiscovery::matchesPinnedFingerprint(std::nullopt, kFingerprint));
    EXPECT_FALSE(ComputerDiscovery::matchesPinnedFingerprint(kFingerprint.substr(1), kFingerprint));
    EXPECT_FALSE(ComputerDiscovery::matchesPinnedFingerprint("", ""));
    std::string other = kFingerprint;
    other.back() = 'e';
    EXPECT_FALSE(ComputerDiscovery::matchesPinnedFingerprint(other, kFingerprint));
    EXPECT_EQ(ComputerDiscovery::serviceType, "_kestrune._tcp");
    EXPECT_EQ(ComputerDiscovery::fingerprintKey, "fp");
}

}  // namespace
}  // namespace kestrune
