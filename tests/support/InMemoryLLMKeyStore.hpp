#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "Kestrune/settings/LLMKeyStore.hpp"

namespace kestrune {

// A key store held in memory, for tests of everything that keeps a key.
class InMemoryLLMKeyStore final : public LLMKeyStore {
  public:
    std::optional<std::string> value;
    bool failWrites = false;
    // When set, look-ups fail with this reason, as a store that does not answer.
    std::optional<std::string> unanswered;

    std::optional<std::string> read() override { return value; }
    LookUpResult lookUp() override {
        if (unanswered) return *unanswered;
        return value;
    }
    WriteResult write(std::string_view newValue) override;
};

}  // namespace kestrune
