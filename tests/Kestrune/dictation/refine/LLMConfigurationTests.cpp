#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Kestrune/dictation/refine/LLMConfiguration.hpp"

namespace kestrune {
namespace {

TEST(LLMConfiguration, FirstEmptyFieldTrimsEverythingButTheKey) {
    const LLMConfiguration full{"https://x/v1", "k", "m", true};
    EXPECT_EQ(full.firstEmptyField(), std::nullopt);

    auto c = full;
    c.baseURL = " \n\t\u3000";
    c.apiKey = "";
    EXPECT_EQ(c.firstEmptyField(), LLMField::baseURL) << "checked in order";

    c = full;
    c.apiKey = " ";
    EXPECT_EQ(c.firstEmptyField(), std::nullopt) << "a key of a space is a key";
    c.apiKey = "";
    EXPECT_EQ(c.firstEmptyField(), LLMField::apiKey);

    c = full;
    c.model = " ";
    EXPECT_EQ(c.firstEmptyField(), LLMField::model);
    c.model = "\u00a0\u2028";
    EXPECT_EQ(c.firstEmptyField(), LLMField::model);

    EXPECT_NE(full, (LLMConfiguration{"https://x/v1", "k", "m", false}));
}

TEST(LLMField, TitlesAreTheFormLabels) {
    EXPECT_EQ(title(LLMField::baseURL), "API Base URL");
    EXPECT_EQ(title(LLMField::apiKey), "API Key");
    EXPECT_EQ(title(LLMField::model), "Model");
}

}  // namespace
}  // namespace kestrune
