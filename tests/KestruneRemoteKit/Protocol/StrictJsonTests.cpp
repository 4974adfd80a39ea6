#include <limits>
#include <string>

#include <gtest/gtest.h>
#include <boost/json/monotonic_resource.hpp>

#include "KestruneRemoteKit/Protocol/StrictJson.hpp"

namespace kestrune::detail {
namespace {

constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
constexpr auto kMin = std::numeric_limits<std::int64_t>::min();

TEST(ExactInt64, DecidesOnTheNumberTextNotOnItsDoubleRounding) {
    const std::pair<std::string_view, std::optional<std::int64_t>> cases[] = {
        {"1", 1},
        {"1.0", 1},
        {"-0.0", 0},
        {"0e999999999999", 0},
        {"1e2", 100},
        {"1E+2", 100},
        {"100e-2", 1},
        {"12.50e1", 125},
        {"1.5", std::nullopt},
        {"1.25e1", std::nullopt},
        {"1e-999999999", std::nullopt},
        {"9223372036854775807.0", kMax},
        {"9223372036854775808.0", std::nullopt},
        {"9.223372036854775807e18", kMax},
        {"-9223372036854775808.0", kMin},
        {"-9223372036854775809", std::nullopt},
        {"-9223372036854775808.5", std::nullopt},
        {"1e19", std::nullopt},
        {"1e999999999999999999999", std::nullopt},
        {"9007199254740993.5", std::nullopt},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(exactInt64(text), expected) << text;
    }
}

std::optional<boost::json::value> parse(std::string_view text) {
    return parseJson(text, boost::json::storage_ptr());
}

TEST(ParseJson, StoresExactIntegersAsIntegersAndEverythingElseAsItWas) {
    const auto doc = parse(R"({"a":1.0,"b":1.5,"c":-9223372036854775809,"d":9223372036854775808})");
    ASSERT_TRUE(doc);
    const auto& o = doc->as_object();
    EXPECT_TRUE(o.at("a").is_int64());
    EXPECT_TRUE(o.at("b").is_double());
    // Rounds to exactly -2^63 as a double, yet lies outside the range.
    EXPECT_TRUE(o.at("c").is_double());
    EXPECT_TRUE(o.at("d").is_uint64());
}

TEST(ParseJson, RefusesWhatIsNotExactlyOneJsonDocument) {
    const std::string deep = std::string(40, '[') + std::string(40, ']');
    const std::string_view refused[] = {
        "",        "{} x",        "{}{}",         "[1,]",        "{\"a\":1,}", "/**/{}",
        "{'a':1}", "{\"a\":NaN}", "\"\xC3\x28\"", "\"\\ud800\"", deep,         "{\"a\"}",
    };
    for (std::string_view text : refused) EXPECT_FALSE(parse(text)) << text;
    EXPECT_TRUE(parse(" \n{\"a\":[1,{\"b\":null}]}\t "));
}

TEST(ParseJson, BuildsIntoTheGivenStorage) {
    boost::json::monotonic_resource resource;
    const auto doc = parseJson(R"({"text":"a long enough string to need storage"})", &resource);
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->storage().get(), &resource);
}

}  // namespace
}  // namespace kestrune::detail
