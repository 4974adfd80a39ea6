#include "tests/support/InMemoryLLMKeyStore.hpp"

namespace kestrune {

LLMKeyStore::WriteResult InMemoryLLMKeyStore::write(std::string_view newValue) {
    if (failWrites) return std::string("writes are set to fail");
    value = newValue.empty() ? std::nullopt : std::optional<std::string>(newValue);
    return {};
}

}  // namespace kestrune
