#include <gtest/gtest.h>

#include <set>

#include "KestruneRemoteKit/Support/Uuid.hpp"

namespace kestrune {
namespace {

TEST(UuidTest, TextFormIsCanonicalUpperCaseAndReadsBack) {
    const auto id = Uuid::parse("0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d");
    ASSERT_TRUE(id);
    EXPECT_EQ(id->uuidString(), "0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D");
    EXPECT_EQ(id->bytes()[0], 0x0a);
    EXPECT_EQ(id->bytes()[15], 0x4d);
    EXPECT_EQ(Uuid::parse(id->uuidString()), id);
    EXPECT_EQ(Uuid().uuidString(), "00000000-0000-0000-0000-000000000000");
}

TEST(UuidTest, MalformedTextIsRefused) {
    for (const std::string text : {
             "",
             "0A1B2C3D4E5F4A6B8C7D9E0F1A2B3C4D",        // no hyphens
             "0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4",     // one digit short
             "0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D0",   // one digit long
             "0A1B2C3D-4E5F-4A6B-8C7D9-E0F1A2B3C4D",    // hyphen misplaced
             "0A1B2C3G-4E5F-4A6B-8C7D-9E0F1A2B3C4D",    // not hexadecimal
             "{0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D}",  // braces
             " 0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4",    // leading space
         }) {
        EXPECT_FALSE(Uuid::parse(text)) << text;
    }
}

TEST(UuidTest, RandomIdentifiersAreVersionFourAndDistinct) {
    std::set<Uuid> seen;
    for (int i = 0; i < 100; ++i) {
        const auto id = Uuid::random();
        ASSERT_TRUE(id);
        const std::string text = id->uuidString();
        EXPECT_EQ(text[14], '4') << text;
        EXPECT_NE(std::string("89AB").find(text[19]), std::string::npos) << text;
        seen.insert(*id);
    }
    EXPECT_EQ(seen.size(), 100u);
}

}  // namespace
}  // namespace kestrune
