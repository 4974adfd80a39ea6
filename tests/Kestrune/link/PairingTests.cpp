#include <gtest/gtest.h>

#include <set>

#include "Kestrune/link/Pairing.hpp"
#include "tests/support/ResultTesting.hpp"

namespace kestrune {
namespace {

using Failure = PairingTokenStore::Failure;
using namespace std::chrono_literals;

const Date kStart = Date(std::chrono::seconds(1'800'000'000));

bool isLowerHex(const std::string& text) {
    return text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

TEST(PairingTokenTest, RandomCodesAreFortyLowerHexDigitsAndDiffer) {
    std::set<std::string> seen;
    for (int i = 0; i < 50; ++i) {
        const auto token = PairingToken::random(kStart, kPairingTokenLifetime);
        ASSERT_TRUE(token);
        EXPECT_EQ(token->value.size(), 40u);
        EXPECT_TRUE(isLowerHex(token->value)) << token->value;
        EXPECT_EQ(token->expiresAt, kStart + 60s);
        seen.insert(token->value);
    }
    EXPECT_EQ(seen.size(), 50u);
}

TEST(PairingCodesEqualTest, ComparesEveryByteAndTheLength) {
    struct Case {
        std::string presented;
        std::string expected;
        bool equal;
    };
    const std::vector<Case> cases = {
        {"", "", true},
        {"abc", "abc", true},
        {"abd", "abc", false},
        {"xbc", "abc", false},
        {"ab", "abc", false},  // a prefix
        {"abc", "ab", false},  // longer
        {"", "a", false},
        // Padding with zeros must not make a shorter code equal to one ending in NUL bytes.
        {std::string("ab"), std::string("ab\0", 3), false},
        {std::string("ab\0", 3), std::string("ab"), false},
        {std::string("a\0c", 3), std::string("a\0c", 3), true},
        {"\xff\xfe", "\xff\xfe", true},
        {"\xff\xfe", "\xff\xff", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.presented) + " vs " +
                     ::testing::PrintToString(c.expected));
        EXPECT_EQ(pairingCodesEqual(c.presented, c.expected), c.equal);
    }
}

class PairingTokenStoreTest : public ::testing::Test {
  protected:
    PairingTokenStore store;
    std::string code() { return store.outstanding()->value; }
};

TEST_F(PairingTokenStoreTest, NothingOutstanding) {
    EXPECT_EQ(testing::failureOf(store.consume("anything", kStart)), Failure::noOutstandingToken);
    EXPECT_EQ(testing::failureOf(store.consume("", kStart)), Failure::noOutstandingToken);
}

TEST_F(PairingTokenStoreTest, ExpiryIsExclusive) {
    ASSERT_TRUE(store.issue(kStart));
    const std::string right = code();
    EXPECT_EQ(testing::failureOf(store.consume(right, kStart + 59s)), std::nullopt);

    ASSERT_TRUE(store.issue(kStart));
    const std::string next = code();
    EXPECT_EQ(testing::failureOf(store.consume(next, kStart + 60s)), Failure::expired);
    EXPECT_FALSE(store.outstanding());
    EXPECT_EQ(testing::failureOf(store.consume(next, kStart + 1s)), Failure::noOutstandingToken);
}

TEST_F(PairingTokenStoreTest, ExpiredIsReportedEvenForAWrongCode) {
    store.issue(kStart);
    EXPECT_EQ(testing::failureOf(store.consume("wrong", kStart + 61s)), Failure::expired);
}

TEST_F(PairingTokenStoreTest, WrongCodesLeaveTheRightOneUsableOnce) {
    store.issue(kStart);
    const std::string right = code();
    for (const std::string& wrong : {std::string("0"), right.substr(0, 39), right + "0",
                                     std::string(40, 'g'), std::string()}) {
        EXPECT_EQ(testing::failureOf(store.consume(wrong, kStart + 1s)), Failure::mismatch)
            << wrong;
    }
    EXPECT_EQ(testing::failureOf(store.consume(right, kStart + 2s)), std::nullopt);
    EXPECT_EQ(testing::failureOf(store.consume(right, kStart + 3s)), Failure::noOutstandingToken);
}

TEST_F(PairingTokenStoreTest, IssuingReplacesAndInvalidateForgets) {
    store.issue(kStart);
    const std::string first = code();
    store.issue(kStart + 10s);
    const std::string second = code();
    ASSERT_NE(first, second);
    EXPECT_EQ(testing::failureOf(store.consume(first, kStart + 11s)), Failure::mismatch);
    EXPECT_EQ(store.outstanding()->expiresAt, kStart + 70s);

    store.invalidate();
    EXPECT_EQ(testing::failureOf(store.consume(second, kStart + 12s)), Failure::noOutstandingToken);
}

}  // namespace
}  // namespace kestrune
