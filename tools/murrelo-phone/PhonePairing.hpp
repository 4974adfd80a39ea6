#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "KestruneRemoteKit/Support/Result.hpp"

namespace kestrune::phone {

// What this phone keeps about the computer it paired with. The secret is the key to the computer:
// the file holding it is owner-only (mode 600) and replaced atomically.
struct PhonePairing {
    std::string host;
    std::uint16_t port = 0;
    std::string fingerprint;
    std::string secret;
    std::string deviceName;

    bool operator==(const PhonePairing&) const = default;

    // $XDG_CONFIG_HOME/murrelo-phone/pairing.json, with ~/.config when XDG_CONFIG_HOME is unset.
    static std::filesystem::path defaultPath();

    // None when the file is missing; an error text when it exists but cannot be used.
    static Result<std::optional<PhonePairing>, std::string> load(const std::filesystem::path& path);

    // A failure is an error text.
    Result<void, std::string> save(const std::filesystem::path& path) const;
};

}  // namespace kestrune::phone
