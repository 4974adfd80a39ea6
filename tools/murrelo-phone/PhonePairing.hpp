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

    // None only when there is no file. Every other problem is an error text naming the file and
    // the reason (unreadable, not a file, readable by other users, damaged): treating such a file
    // as "not paired" would make the person pair again and leave the computer an orphan device.
    static Result<std::optional<PhonePairing>, std::string> load(const std::filesystem::path& path);

    // Whether a pairing could be stored at `path`, checked before the computer is asked (a device
    // it registers but the phone cannot remember is an orphan): creates the missing folders
    // owner-only and a nameless file beside `path`. An error text naming the place otherwise.
    static std::optional<std::string> checkWritable(const std::filesystem::path& path);

    // A failure is an error text.
    Result<void, std::string> save(const std::filesystem::path& path) const;
};

// `text` quoted for a POSIX shell, so that a printed command can be pasted as it stands.
std::string shellQuoted(const std::string& text);

}  // namespace kestrune::phone
