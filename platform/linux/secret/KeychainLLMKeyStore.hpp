#pragma once

#include "Kestrune/settings/LLMKeyStore.hpp"

namespace kestrune {

// The API key as one item of the session's Secret Service (the login keyring), found by the
// attributes service "zz.holvanis.murrelo.llm" and account "default". Calls block the caller's
// thread for one D-Bus round trip; with no Secret Service reachable they fail at once.
class KeychainLLMKeyStore final : public LLMKeyStore {
  public:
    static constexpr const char* kSchemaName = "zz.holvanis.murrelo.llm";
    static constexpr const char* kService = "zz.holvanis.murrelo.llm";
    static constexpr const char* kAccount = "default";

    std::optional<std::string> read() override;
    WriteResult write(std::string_view value) override;
};

}  // namespace kestrune
