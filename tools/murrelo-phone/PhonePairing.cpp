#include "PhonePairing.hpp"

#include <boost/json.hpp>
#include <cstdlib>

#include "KestruneRemoteKit/Support/AtomicFile.hpp"

namespace kestrune::phone {

namespace json = boost::json;

namespace {

// A pairing file is a few hundred bytes; anything far larger is not ours.
constexpr std::size_t kMaxFileBytes = 64 * 1024;

const json::string* stringField(const json::object& object, std::string_view key) {
    const json::value* value = object.if_contains(key);
    return value ? value->if_string() : nullptr;
}

}  // namespace

std::filesystem::path PhonePairing::defaultPath() {
    std::filesystem::path base;
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config == '/') {
        base = config;
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        base = std::filesystem::path(home) / ".config";
    } else {
        base = ".config";
    }
    return base / "murrelo-phone" / "pairing.json";
}

Result<std::optional<PhonePairing>, std::string> PhonePairing::load(
    const std::filesystem::path& path) {
    const auto bytes = readWholeFile(path);
    if (!bytes) return std::optional<PhonePairing>();
    const std::string unusable = "the pairing file " + path.string() + " is damaged; pair again";
    if (bytes->size() > kMaxFileBytes) return unusable;

    boost::system::error_code error;
    const json::value parsed = json::parse(*bytes, error);
    const json::object* object = parsed.if_object();
    if (error || !object) return unusable;
    const auto* host = stringField(*object, "host");
    const auto* fingerprint = stringField(*object, "fingerprint");
    const auto* secret = stringField(*object, "secret");
    const auto* deviceName = stringField(*object, "deviceName");
    const json::value* port = object->if_contains("port");
    if (!host || !fingerprint || !secret || !deviceName || !port || !port->is_int64() ||
        port->as_int64() < 0 || port->as_int64() > 65535) {
        return unusable;
    }
    return std::optional<PhonePairing>(
        PhonePairing{std::string(*host), static_cast<std::uint16_t>(port->as_int64()),
                     std::string(*fingerprint), std::string(*secret), std::string(*deviceName)});
}

Result<void, std::string> PhonePairing::save(const std::filesystem::path& path) const {
    json::object object;
    object["host"] = host;
    object["port"] = port;
    object["fingerprint"] = fingerprint;
    object["secret"] = secret;
    object["deviceName"] = deviceName;
    return writeFileAtomically(path, json::serialize(object) + "\n", kOwnerOnlyFileMode);
}

}  // namespace kestrune::phone
