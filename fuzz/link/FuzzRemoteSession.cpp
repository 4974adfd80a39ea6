// Drives one RemoteSession the way the server does: frames, approval answers, command outcomes,
// device removal and clock changes in the order the input chooses, and checks after every step the
// rules the server relies on.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>

#include "Kestrune/link/RemoteSession.hpp"

namespace kestrune {
namespace {

using Effect = RemoteSession::Effect;
using Effects = RemoteSession::Effects;
using State = RemoteSession::State;
using M = RemoteMessage;

// Bounds the work per input; real frames are limited to 256 KiB by the listener.
constexpr std::size_t kMaxRawFrameBytes = 4096;
constexpr char kKnownSecret[] = "known-secret";

[[noreturn]] void fail(const char* rule) {
    std::fprintf(stderr, "invariant broken: %s\n", rule);
    std::abort();
}
void check(bool holds, const char* rule) {
    if (!holds) fail(rule);
}

// Reads the input front to back; past the end every read yields zeros.
class Cursor {
  public:
    Cursor(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool done() const { return position_ >= size_; }
    std::uint8_t byte() { return done() ? 0 : data_[position_++]; }
    std::uint16_t u16() { return static_cast<std::uint16_t>(byte() << 8 | byte()); }
    std::string text(std::size_t count) {
        count = std::min(count, size_ - std::min(position_, size_));
        std::string out(reinterpret_cast<const char*>(data_ + position_), count);
        position_ += count;
        return out;
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

class InMemoryContext final : public RemoteSessionContext {
  public:
    Date clock = Date(std::chrono::seconds(1'800'000'000));
    PairingTokenStore tokens;
    std::map<std::string, Uuid> secrets;
    std::set<Uuid> paired;
    bool registrationFails = false;

    InMemoryContext() {
        const Uuid known(Uuid::Bytes{1});
        secrets[kKnownSecret] = known;
        paired.insert(known);
    }

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
        if (registrationFails) return PairedDeviceStore::Failure{"refused"};
        Uuid::Bytes bytes{};
        bytes[0] = 2;
        bytes[15] = static_cast<std::uint8_t>(secrets.size());
        const Uuid id(bytes);
        const std::string secret = "new-secret-" + std::to_string(secrets.size());
        secrets[secret] = id;
        paired.insert(id);
        return PairedDeviceStore::Registration{PairedDevice{id, std::string(name), {}, now, now},
                                               secret};
    }
};

bool isCommand(const M& message) {
    return message.is<M::Text>() || message.is<M::Key>() || message.is<M::Hotkey>() ||
           message.is<M::Secret>();
}

// A well-formed message chosen by the input, so that deep states are reached quickly.
M chosenMessage(Cursor& in, InMemoryContext& context) {
    static const char* const kIds[] = {"a", "b", ""};
    const auto id = [&] { return std::string(kIds[in.byte() % 3]); };
    switch (in.byte() % 13) {
        case 0:
            return M::Hello{in.byte() % 2 ? std::string(kKnownSecret) : in.text(in.byte() % 8)};
        case 1: {
            const auto& outstanding = context.tokens.outstanding();
            std::string token = in.byte() % 2 && outstanding ? outstanding->value : in.text(40);
            return M::Pair{std::move(token), in.text(in.byte())};
        }
        case 2:
            return M::Text{in.text(in.byte())};
        case 3:
            return M::Key{in.byte() % 2 ? "RETURN" : "TAB"};
        case 4:
            return M::Hotkey{"v", {M::Modifier::cmd}};
        case 5:
            return M::Secret{in.text(in.byte() % 16), in.byte() % 2 == 1};
        case 6: {
            const std::uint8_t sizeChoice = in.byte();
            std::int64_t size = sizeChoice % 64 + 1;
            if (sizeChoice >= 0xf0) size = kMaxImageBytes + (sizeChoice % 3) - 1;
            return M::ImageBegin{id(), kAllImageFormats[in.byte() % 3], size, in.byte() % 2 == 1};
        }
        case 7: {
            std::string identifier = id();
            const std::int64_t index = in.byte() % 8;
            const std::string data = in.text(in.byte() % 32);
            return M::ImageChunk{std::move(identifier), index, Bytes(data.begin(), data.end())};
        }
        case 8:
            return M::ImageEnd{id()};
        case 9:
            return M::Subscribe{in.byte() % 2 == 1};
        case 10:
            return M::Heartbeat{in.u16()};
        case 11:
            return M::PushAck{id()};
        default:
            return M::Ack{true, {}, {}, {}};
    }
}

// The rules every answer of the session must follow, whatever came before.
void checkEffects(const Effects& effects, const State& before, bool wasSubscription,
                  const RemoteSession& session) {
    if (before.is<State::Closed>()) check(effects.empty(), "nothing happens after closed");
    for (std::size_t i = 0; i < effects.size(); ++i) {
        const Effect& effect = effects[i];
        if (effect.is<Effect::Close>()) {
            check(i + 1 == effects.size(), "close is always last");
            check(i > 0, "close follows a refusal");
            const auto* send = effects[i - 1].as<Effect::Send>();
            const auto* ack = send ? send->message.as<M::Ack>() : nullptr;
            check(ack && !ack->ok, "close follows a refusal");
        }
        if (const auto* send = effect.as<Effect::Send>()) {
            check(send->message.encoded().ok(), "every sent message can be encoded");
            if (const auto* ack = send->message.as<M::Ack>()) {
                if (ack->ok) {
                    check(!ack->error, "an ok ack carries no error");
                    continue;
                }
                check(ack->error.has_value(), "a refusal carries its code");
                check(!ack->saved && !ack->savedIn, "a refusal carries nothing else");
                const auto error = remoteErrorFromRaw(*ack->error);
                check(error.has_value(), "a refusal's code is a known code");
                const bool closes = i + 1 < effects.size() && effects[i + 1].is<Effect::Close>();
                check(closes == closesConnection(*error),
                      "refusals close exactly when the code does");
            }
        }
        if (const auto* execute = effect.as<Effect::Execute>()) {
            check(isCommand(execute->message), "only commands are executed");
        }
        if (effect.is<Effect::Execute>() || effect.is<Effect::ReceiveImage>() ||
            effect.is<Effect::Subscribed>()) {
            check(before.is<State::Authorized>() && !wasSubscription,
                  "commands, pictures and subscriptions only on an authorized ordinary connection");
        }
        if (effect.is<Effect::PushAcknowledged>()) {
            check(before.is<State::Authorized>() && wasSubscription,
                  "push acknowledgements only on a subscription");
        }
        if (const auto* image = effect.as<Effect::ReceiveImage>()) {
            check(image->data.size() <= static_cast<std::size_t>(kMaxImageBytes),
                  "a delivered picture is within the limit");
        }
        if (effect.is<Effect::RequestApproval>()) {
            check(before.is<State::AwaitingAuth>() && session.state().is<State::AwaitingApproval>(),
                  "approval is requested once, from awaitingAuth");
        }
    }
    if (const auto& pending = session.pendingImage()) {
        check(pending->size >= 1 && pending->size <= kMaxImageBytes,
              "a pending picture has an acceptable size");
        check(pending->data.size() <= static_cast<std::size_t>(pending->size),
              "a pending picture never exceeds its announced size");
        check(pending->nextIndex >= 0, "chunk indexes only grow");
    }
    const auto& after = session.state();
    if (before.is<State::Closed>()) check(after.is<State::Closed>(), "closed is final");
    if (before.is<State::Authorized>()) {
        check(after == before || after.is<State::Closed>(), "an authorized session stays so");
    }
    if (before.is<State::AwaitingApproval>() && !after.is<State::AwaitingApproval>()) {
        check(after.is<State::Authorized>() || after.is<State::Closed>(),
              "approval leads to authorized or closed");
    }
}

}  // namespace
}  // namespace kestrune

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrune;
    Cursor in(data, size);
    InMemoryContext context;
    RemoteSession session;
    bool closedByOwner = false;

    while (!in.done()) {
        const State before = session.state();
        const bool wasSubscription = session.isSubscription();
        Effects effects;
        switch (in.byte() % 8) {
            case 0:
                effects = session.receive(in.text(in.u16() % kMaxRawFrameBytes), context);
                break;
            case 1: {
                const auto frame = chosenMessage(in, context).encoded();
                if (frame.ok()) effects = session.receive(frame.value(), context);
                break;
            }
            case 2:
                effects = session.resolveApproval(in.byte() % 2 == 1, context);
                break;
            case 3: {
                const std::uint8_t choice = in.byte() % 20;
                const auto error = choice < std::size(kAllRemoteErrors)
                                       ? std::optional(kAllRemoteErrors[choice])
                                       : std::nullopt;
                effects = session.executionFinished(
                    {error, in.byte() % 2 ? "saved.png" : "", std::nullopt});
                break;
            }
            case 4:
                // The user removes (or, on a later pairing, re-adds) the known phone.
                if (in.byte() % 2) {
                    context.paired.clear();
                } else {
                    context.paired.insert(context.secrets.at(kKnownSecret));
                }
                break;
            case 5:
                context.clock += std::chrono::seconds(in.byte());
                break;
            case 6:
                context.tokens.issue(context.clock);
                break;
            default:
                context.registrationFails = !context.registrationFails;
                break;
        }
        // A subscription flag once set stays set.
        check(!wasSubscription || session.isSubscription(), "a subscription stays one");
        checkEffects(effects, before, wasSubscription, session);
        if (closedByOwner) check(effects.empty(), "nothing happens after the owner closed");
        // Like the server: a close ends the connection and the session with it.
        if (!effects.empty() && effects.back().is<RemoteSession::Effect::Close>()) {
            session.close();
            closedByOwner = true;
        }
    }
    return 0;
}
