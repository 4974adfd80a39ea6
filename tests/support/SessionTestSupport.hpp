#pragma once

#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "Kestrune/link/RemoteSession.hpp"

namespace kestrune::test {

// An in-memory context: a real pairing-code store, a set of paired devices keyed by secret, and a
// clock the test moves by hand.
class FakeSessionContext final : public RemoteSessionContext {
  public:
    Date clock = Date(std::chrono::seconds(1'800'000'000));
    PairingTokenStore tokens;
    std::map<std::string, Uuid> secrets;
    std::set<Uuid> paired;
    bool registrationFails = false;
    std::vector<std::string> registeredNames;

    Uuid addDevice(const std::string& secret) {
        const Uuid id = *Uuid::random();
        secrets[secret] = id;
        paired.insert(id);
        return id;
    }
    std::string issueToken() { return tokens.issue(clock)->value; }

    Date now() override { return clock; }
    Result<void, PairingTokenStore::Failure> consumePairingToken(std::string_view token,
                                                                 Date now) override {
        return tokens.consume(token, now);
    }
    std::optional<Uuid> authenticateDevice(std::string_view secret) override {
        const auto found = secrets.find(std::string(secret));
        if (found == secrets.end() || !paired.contains(found->second)) return std::nullopt;
        return found->second;
    }
    bool containsDevice(const Uuid& id) override { return paired.contains(id); }
    Result<PairedDeviceStore::Registration, PairedDeviceStore::Failure> registerDevice(
        std::string_view name, Date now) override {
        if (registrationFails) return PairedDeviceStore::Failure{"disk full"};
        registeredNames.emplace_back(name);
        const std::string secret = "secret-" + std::to_string(registeredNames.size());
        const Uuid id = addDevice(secret);
        return PairedDeviceStore::Registration{PairedDevice{id, std::string(name), "", now, now},
                                               secret};
    }
};

// The frame of a message, as a phone would send it.
inline std::string frame(RemoteMessage message) {
    return message.encoded().value();
}

inline RemoteSession::Effect ackOk() {
    return RemoteSession::Effect::Send{RemoteMessage::Ack{true, {}, {}, {}}};
}
inline RemoteSession::Effect ackError(RemoteError error) {
    return RemoteSession::Effect::Send{
        RemoteMessage::Ack{false, std::string(rawValue(error)), {}, {}}};
}
inline RemoteSession::Effect closeEffect() {
    return RemoteSession::Effect::Close{};
}

// The effects of a refusal with `error`, including the close it calls for.
inline RemoteSession::Effects refusal(RemoteError error) {
    RemoteSession::Effects effects{ackError(error)};
    if (closesConnection(error)) effects.push_back(closeEffect());
    return effects;
}

}  // namespace kestrune::test

namespace kestrune {
// Readable effects in failure messages.
void PrintTo(const RemoteSession::Effect& effect, std::ostream* out);
}  // namespace kestrune
