#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "Kestrune/phone/typing/DirectTextInjector.hpp"
#include "Kestrune/phone/typing/SecretInjection.hpp"
#include "KestruneRemoteKit/Protocol/RemoteError.hpp"
#include "KestruneRemoteKit/Protocol/RemoteMessage.hpp"
#include "KestruneRemoteKit/Support/Result.hpp"

namespace kestrune {

// Decides what a phone's command may do on this computer and reports one outcome: success or a
// RemoteError for the acknowledgement. Every effect is a function value given at construction.
class RemoteCommandExecutor {
  public:
    using Done = std::function<void(Result<void, RemoteError>)>;
    using InjectorCompletion = DirectTextInjector::Completion;

    struct Operations {
        // Whether this process may synthesise input (on X11: XTest and XInput 2 present).
        std::function<bool()> isTrusted;
        // The user's "remoteInputUsePaste" setting, read at each call.
        std::function<bool()> usePaste;
        std::function<void(std::string, InjectorCompletion)> injectText;
        std::function<void(std::string, Done)> paste;
        std::function<void(std::uint16_t, InjectorCompletion)> pressKey;
        std::function<void(std::function<void(bool)>)> checkPasswordField;
        std::function<SecretInjection()> beginSecret;
    };

    // Virtual key codes of the keys a phone may press.
    static constexpr std::uint16_t kReturnKeyCode = 36;
    static constexpr std::uint16_t kTabKeyCode = 48;
    // Longest password accepted, in user-perceived characters.
    static constexpr std::size_t kMaxSecretCharacters = 1024;

    explicit RemoteCommandExecutor(Operations operations);

    // Called on the main queue, where the server's requests reach their owner; `done` runs exactly
    // once, on any thread.
    void execute(const RemoteMessage& message, Done done);

    // The key code for a `key` message's value; exact match only.
    static std::optional<std::uint16_t> keyCode(std::string_view name);
    // The password as typed: controls, line breaks and tabs removed.
    static std::string filterSecret(std::string_view payload);
    static RemoteError errorFor(DirectTextInjector::Failure failure);

  private:
    void executeSecret(const std::string& payload, bool enter, Done done);

    Operations ops_;
};

}  // namespace kestrune
