#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "KestruneRemoteKit/Support/Result.hpp"

namespace kestrune {

// Where the refinement API key lives: a secret store, never the settings file.
class LLMKeyStore {
  public:
    // The outcome of a write. A failure says why in words the settings window can show (never
    // containing the key).
    using WriteResult = Result<void, std::string>;
    // The outcome of a look-up: the stored key (none when none is stored), or why the store could
    // not be asked, in words the user can be shown.
    using LookUpResult = Result<std::optional<std::string>, std::string>;

    virtual ~LLMKeyStore() = default;

    // The stored key; none when there is none or it cannot be read.
    virtual std::optional<std::string> read() = 0;
    // Tells "no key" from "the store did not answer"; stores that always answer need not override.
    virtual LookUpResult lookUp() { return read(); }

    // Stores `value`; an empty value deletes the key (success when there was nothing to delete).
    virtual WriteResult write(std::string_view value) = 0;
};

}  // namespace kestrune
