#include "Kestrune/link/RemoteSession.hpp"

#include <unicode/brkiter.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <memory>

#include "KestruneRemoteKit/L10n/L10n.hpp"

namespace kestrune {

namespace {

using Effect = RemoteSession::Effect;
using Effects = RemoteSession::Effects;

Effect ackOk() {
    return Effect::Send{RemoteMessage::Ack{true, std::nullopt, std::nullopt, std::nullopt}};
}

// Every refusal is an `ack` carrying the code; the codes that end the connection are followed by
// a close and nothing else is.
// g++ 12 at -O3 takes the moves of the effects' variant into a larger vector for reads of its
// other, uninitialized alternatives (-Wmaybe-uninitialized, GCC bug 105562 and kin); sanitizer
// builds and clang still check this function for real ones.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
Effects refusal(RemoteError error) {
    Effects effects{Effect::Send{
        RemoteMessage::Ack{false, std::string(rawValue(error)), std::nullopt, std::nullopt}}};
    if (closesConnection(error)) effects.push_back(Effect::Close{});
    return effects;
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

// Control, format, line and paragraph separators, surrogates and unassigned code points: invisible
// or layout-breaking in a one-line name.
bool isRemovedFromNames(UChar32 scalar) {
    switch (u_charType(scalar)) {
        case U_CONTROL_CHAR:
        case U_FORMAT_CHAR:
        case U_LINE_SEPARATOR:
        case U_PARAGRAPH_SEPARATOR:
        case U_SURROGATE:
        case U_UNASSIGNED:
            return true;
        default:
            return false;
    }
}

// Tabs and line breaks are control characters and already gone when names are trimmed.
bool isBlank(UChar32 scalar) {
    return u_charType(scalar) == U_SPACE_SEPARATOR;
}

// The scalars of `text` that may appear in a name; ill-formed UTF-8 is dropped with them.
std::u32string keptScalars(std::string_view text) {
    std::u32string scalars;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const std::int64_t length = static_cast<std::int64_t>(text.size());
    for (std::int64_t i = 0; i < length;) {
        UChar32 scalar = 0;
        U8_NEXT(bytes, i, length, scalar);
        if (scalar >= 0 && !isRemovedFromNames(scalar)) {
            scalars.push_back(static_cast<char32_t>(scalar));
        }
    }
    return scalars;
}

// The leading characters (grapheme clusters) of `scalars` within both name limits.
std::string boundedPrefix(std::u32string_view scalars) {
    // One scalar past the limit is enough to tell where the last character that fits ends:
    // cluster boundaries before it do not depend on anything later.
    scalars = scalars.substr(0, RemoteSession::kMaxDeviceNameScalars + 1);
    const icu::UnicodeString text =
        icu::UnicodeString::fromUTF32(reinterpret_cast<const UChar32*>(scalars.data()),
                                      static_cast<std::int32_t>(scalars.size()));
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> characters(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status) || !characters) return {};
    characters->setText(text);

    std::int32_t keptEnd = 0;
    std::size_t keptCharacters = 0;
    for (std::int32_t end = characters->next();
         end != icu::BreakIterator::DONE &&
         keptCharacters < RemoteSession::kMaxDeviceNameCharacters;
         end = characters->next()) {
        if (static_cast<std::size_t>(text.countChar32(0, end)) >
            RemoteSession::kMaxDeviceNameScalars) {
            break;
        }
        keptEnd = end;
        ++keptCharacters;
    }
    std::string out;
    text.tempSubString(0, keptEnd).toUTF8String(out);
    return out;
}

bool isCommand(const RemoteMessage& message) {
    return message.is<RemoteMessage::Text>() || message.is<RemoteMessage::Key>() ||
           message.is<RemoteMessage::Hotkey>() || message.is<RemoteMessage::Secret>();
}

}  // namespace

Effects RemoteSession::receive(std::string_view frame, RemoteSessionContext& context) {
    if (state_.is<State::Closed>()) return {};
    // A frame that does not decode is treated like a message that is not valid here.
    const auto decoded = RemoteMessage::decode(frame);
    const RemoteMessage* message = decoded.ok() ? &decoded.value() : nullptr;

    if (state_.is<State::AwaitingAuth>()) return receiveUnauthenticated(message, context);
    if (state_.is<State::AwaitingApproval>()) return refusal(RemoteError::awaitingApproval);

    const Uuid deviceID = state_.as<State::Authorized>()->deviceID;
    if (!context.containsDevice(deviceID)) return refusal(RemoteError::unknownDevice);
    if (isSubscription_) return receiveOnSubscription(message);
    if (!message) return refusal(RemoteError::badMessage);
    return receiveAuthorized(*message, deviceID);
}

Effects RemoteSession::receiveUnauthenticated(const RemoteMessage* message,
                                              RemoteSessionContext& context) {
    if (const auto* hello = message ? message->as<RemoteMessage::Hello>() : nullptr) {
        const auto deviceID = context.authenticateDevice(hello->secret);
        if (!deviceID) return refusal(RemoteError::unknownDevice);
        state_ = State::Authorized{*deviceID};
        return {ackOk()};
    }
    if (const auto* pair = message ? message->as<RemoteMessage::Pair>() : nullptr) {
        // The code is spent before the user is asked, so it works once whatever the answer.
        const auto spent = context.consumePairingToken(pair->token, context.now());
        if (!spent && spent.error() == PairingTokenStore::Failure::expired) {
            return refusal(RemoteError::tokenExpired);
        }
        if (!spent) return refusal(RemoteError::tokenInvalid);
        std::string name = sanitize(pair->name);
        state_ = State::AwaitingApproval{name};
        return {Effect::RequestApproval{std::move(name)}};
    }
    return refusal(RemoteError::unauthenticated);
}

Effects RemoteSession::receiveOnSubscription(const RemoteMessage* message) {
    if (const auto* heartbeat = message ? message->as<RemoteMessage::Heartbeat>() : nullptr) {
        return {Effect::Send{RemoteMessage::HeartbeatAck{heartbeat->n}}};
    }
    if (const auto* pushAck = message ? message->as<RemoteMessage::PushAck>() : nullptr) {
        return {Effect::PushAcknowledged{pushAck->id}};
    }
    return refusal(RemoteError::badMessage);
}

Effects RemoteSession::receiveAuthorized(const RemoteMessage& message, const Uuid& deviceID) {
    if (isCommand(message)) return {Effect::Execute{message}};
    if (const auto* begin = message.as<RemoteMessage::ImageBegin>()) {
        if (begin->size > kMaxImageBytes) {
            pendingImage_.reset();
            return refusal(RemoteError::imageTooLarge);
        }
        pendingImage_ = PendingImage{begin->id, begin->format, begin->size, begin->save, {}, 0};
        return {ackOk()};
    }
    if (const auto* chunk = message.as<RemoteMessage::ImageChunk>())
        return receiveImageChunk(*chunk);
    if (const auto* end = message.as<RemoteMessage::ImageEnd>()) return receiveImageEnd(*end);
    if (const auto* subscribe = message.as<RemoteMessage::Subscribe>()) {
        isSubscription_ = true;
        acceptsSecret_ = subscribe->acceptsSecret;
        return {ackOk(), Effect::Subscribed{deviceID}};
    }
    return refusal(RemoteError::badMessage);
}

Effects RemoteSession::receiveImageChunk(const RemoteMessage::ImageChunk& chunk) {
    // The received bytes never exceed the announced size, so the subtraction cannot wrap.
    const bool accepted = pendingImage_ && chunk.id == pendingImage_->id &&
                          chunk.index == pendingImage_->nextIndex &&
                          chunk.data.size() <= static_cast<std::uint64_t>(pendingImage_->size) -
                                                   pendingImage_->data.size();
    if (!accepted) {
        pendingImage_.reset();
        return refusal(RemoteError::badMessage);
    }
    pendingImage_->data.insert(pendingImage_->data.end(), chunk.data.begin(), chunk.data.end());
    ++pendingImage_->nextIndex;
    return {ackOk()};
}

Effects RemoteSession::receiveImageEnd(const RemoteMessage::ImageEnd& end) {
    const bool accepted =
        pendingImage_ && end.id == pendingImage_->id &&
        pendingImage_->data.size() == static_cast<std::uint64_t>(pendingImage_->size);
    if (!accepted) {
        pendingImage_.reset();
        return refusal(RemoteError::badMessage);
    }
    PendingImage image = std::move(*pendingImage_);
    pendingImage_.reset();
    // Not `return {Effect…}`: an initializer list is copied from, and this one holds the picture.
    Effects effects;
    effects.emplace_back(Effect::ReceiveImage{std::move(image.data), image.format, image.save});
    return effects;
}

Effects RemoteSession::resolveApproval(bool approved, RemoteSessionContext& context) {
    const auto* awaiting = state_.as<State::AwaitingApproval>();
    if (!awaiting) return {};
    if (!approved) {
        state_ = State::Closed{};
        return refusal(RemoteError::pairingRejected);
    }
    auto registration = context.registerDevice(awaiting->deviceName, context.now());
    if (!registration) {
        state_ = State::Closed{};
        return refusal(RemoteError::internal);
    }
    state_ = State::Authorized{registration.value().device.id};
    // The secret is the reply to `pair`; no `ack` goes with it.
    return {Effect::Send{RemoteMessage::Paired{std::move(registration.value().secret)}}};
}

Effects RemoteSession::executionFinished(ImageOutcome outcome) {
    if (!state_.is<State::Authorized>()) return {};
    const auto error = outcome.error;
    if (!error) {
        return {Effect::Send{RemoteMessage::Ack{true, std::nullopt, std::move(outcome.saved),
                                                std::move(outcome.savedIn)}}};
    }
    // Any code that ends the connection ends the session too, not only `internal`: the phone
    // treats the link as finished when it reads such a code.
    if (closesConnection(*error)) state_ = State::Closed{};
    return refusal(*error);
}

std::string RemoteSession::sanitize(std::string_view name) {
    const std::u32string scalars = keptScalars(name);
    std::u32string_view trimmed = scalars;
    while (!trimmed.empty() && isBlank(static_cast<UChar32>(trimmed.front()))) {
        trimmed.remove_prefix(1);
    }
    while (!trimmed.empty() && isBlank(static_cast<UChar32>(trimmed.back()))) {
        trimmed.remove_suffix(1);
    }
    std::string result = boundedPrefix(trimmed);
    if (result.empty()) return localized("Unnamed Device");
    return result;
}

void RemoteSession::close() {
    state_ = State::Closed{};
    pendingImage_.reset();
}

}  // namespace kestrune
