#pragma once

#include <string>

#include "Kestrune/settings/LLMKeyStore.hpp"

namespace kestrune {

// An API key as one item of the session's Secret Service (the login keyring), found by the
// attributes service "zz.holvanis.murrelo.llm" and an account: "default" for the refinement key,
// "transcription" for the online recognizer's. Calls block the caller's thread for one D-Bus
// round trip; with no Secret Service reachable they fail at once, and one that does not answer
// is given up on after a few seconds for a read, a minute for a write (which may wait for the
// keyring's prompt).
class SecretServiceKeyStore final : public LLMKeyStore {
  public:
    static constexpr const char* kSchemaName = "zz.holvanis.murrelo.llm";
    static constexpr const char* kService = "zz.holvanis.murrelo.llm";
    static constexpr const char* kAccount = "default";
    static constexpr const char* kTranscriptionAccount = "transcription";

    explicit SecretServiceKeyStore(std::string account = kAccount) : account_(std::move(account)) {}

    std::optional<std::string> read() override;
    LookUpResult lookUp() override;
    WriteResult write(std::string_view value) override;

  private:
    std::string account_;
};

}  // namespace kestrune
