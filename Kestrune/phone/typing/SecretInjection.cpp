#include "Kestrune/phone/typing/SecretInjection.hpp"

namespace kestrune {

SecretInjection SecretInjection::boundTo(DirectTextInjector& injector) {
    auto ticket = injector.generation();
    DirectTextInjector* target = &injector;
    SecretInjection bound;
    bound.type = [target, ticket](std::string text, DirectTextInjector::Completion completion) {
        DirectTextInjector::Prepared prepared =
            text.empty() ? DirectTextInjector::Prepared(DirectTextInjector::Failure::empty)
                         : DirectTextInjector::Prepared(std::move(text));
        target->send(std::move(prepared), ticket, std::move(completion));
    };
    bound.press = [target, ticket](std::uint16_t keyCode,
                                   DirectTextInjector::Completion completion) {
        target->press(keyCode, ticket, std::move(completion));
    };
    return bound;
}

}  // namespace kestrune
