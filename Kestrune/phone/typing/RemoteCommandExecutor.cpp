#include "Kestrune/phone/typing/RemoteCommandExecutor.hpp"

#include "Kestrune/phone/typing/UnicodeText.hpp"

namespace kestrune {

namespace {

RemoteCommandExecutor::InjectorCompletion mapped(RemoteCommandExecutor::Done done) {
    return [done = std::move(done)](Result<void, DirectTextInjector::Failure> typed) {
        if (!typed) return done(RemoteCommandExecutor::errorFor(typed.error()));
        done({});
    };
}

}  // namespace

RemoteCommandExecutor::RemoteCommandExecutor(Operations operations) : ops_(std::move(operations)) {}

RemoteError RemoteCommandExecutor::errorFor(DirectTextInjector::Failure failure) {
    switch (failure) {
        case DirectTextInjector::Failure::textTooLong:
            return RemoteError::textTooLong;
        case DirectTextInjector::Failure::empty:
            return RemoteError::textEmpty;
        case DirectTextInjector::Failure::cancelled:
            return RemoteError::cancelled;
    }
    return RemoteError::internal;
}

std::optional<std::uint16_t> RemoteCommandExecutor::keyCode(std::string_view name) {
    if (name == "RETURN") return kReturnKeyCode;
    if (name == "TAB") return kTabKeyCode;
    return std::nullopt;
}

std::string RemoteCommandExecutor::filterSecret(std::string_view payload) {
    std::string kept;
    for (char32_t c : unicode::decodeUtf8(payload)) {
        if (unicode::isControl(c) || c == 0x85 || c == 0x2028 || c == 0x2029) continue;
        unicode::appendUtf8(kept, c);
    }
    return kept;
}

void RemoteCommandExecutor::execute(const RemoteMessage& message, Done done) {
    if (message.is<RemoteMessage::Hotkey>()) return done(RemoteError::unsupported);
    if (const auto* key = message.as<RemoteMessage::Key>()) {
        auto code = keyCode(key->payload);
        if (!code) return done(RemoteError::unsupported);
        if (!ops_.isTrusted()) return done(RemoteError::accessibilityMissing);
        return ops_.pressKey(*code, mapped(std::move(done)));
    }
    if (const auto* text = message.as<RemoteMessage::Text>()) {
        if (!ops_.isTrusted()) return done(RemoteError::accessibilityMissing);
        auto prepared = DirectTextInjector::prepare(text->payload);
        if (!prepared.ok()) return done(errorFor(prepared.error()));
        if (ops_.usePaste()) return ops_.paste(std::move(prepared).value(), std::move(done));
        return ops_.injectText(std::move(prepared).value(), mapped(std::move(done)));
    }
    if (const auto* secret = message.as<RemoteMessage::Secret>()) {
        return executeSecret(secret->payload, secret->enter, std::move(done));
    }
    done(RemoteError::badMessage);
}

void RemoteCommandExecutor::executeSecret(const std::string& payload, bool enter, Done done) {
    if (!ops_.isTrusted()) return done(RemoteError::accessibilityMissing);
    if (unicode::characterCount(payload) > kMaxSecretCharacters)
        return done(RemoteError::textTooLong);
    auto filtered = filterSecret(payload);
    if (filtered.empty()) return done(RemoteError::textEmpty);
    // The ticket is taken before the focus check, so a cancellation during the check also
    // cancels the typing that follows it.
    auto injection = ops_.beginSecret();
    ops_.checkPasswordField([injection, enter, filtered = std::move(filtered),
                             done = std::move(done)](bool isPasswordField) mutable {
        if (!isPasswordField) return done(RemoteError::notPasswordField);
        auto press = injection.press;
        injection.type(std::move(filtered),
                       [press, enter, done](Result<void, DirectTextInjector::Failure> typed) {
                           if (!typed) return done(errorFor(typed.error()));
                           if (!enter) return done({});
                           press(kReturnKeyCode, mapped(done));
                       });
    });
}

}  // namespace kestrune
