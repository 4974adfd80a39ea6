#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Kestrune/settings/LLMKeyStore.hpp"
#include "tests/support/InMemoryLLMKeyStore.hpp"

namespace kestrune {
namespace {

TEST(InMemoryLLMKeyStore, StoresEmptyAsNoneAndRefusesWhenToldTo) {
    InMemoryLLMKeyStore store;
    EXPECT_TRUE(store.write("k"));
    EXPECT_EQ(store.read(), "k");
    EXPECT_TRUE(store.write(""));
    EXPECT_EQ(store.read(), std::nullopt);
    store.value = "kept";
    store.failWrites = true;
    const auto refused = store.write("new");
    EXPECT_FALSE(refused);
    EXPECT_FALSE(refused.error().empty());
    EXPECT_EQ(store.read(), "kept");
}

}  // namespace
}  // namespace kestrune
