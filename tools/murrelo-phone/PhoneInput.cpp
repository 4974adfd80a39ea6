#include "PhoneInput.hpp"

#include "KestruneRemoteKit/Protocol/WireLimits.hpp"

namespace kestrune::phone {

namespace {

// "262,144": limits are read by people here.
// Built forwards rather than by inserting into the digits, which g++ 12 at -O3 takes for an
// overlapping copy (GCC bug 105329, -Wrestrict).
std::string withThousands(std::size_t value) {
    const std::string digits = std::to_string(value);
    std::string grouped;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
        grouped += digits[i];
    }
    return grouped;
}

std::optional<std::string> checkEncodedSize(const RemoteMessage& message, const char* what) {
    const auto encoded = message.encoded();
    if (!encoded) return std::string(what) + " cannot be sent: " + encoded.error().reason;
    const auto size = encoded.value().size();
    if (size <= kMaxComputerMessageBytes) return std::nullopt;
    return std::string(what) + " is too long: as a message it takes " + withThousands(size) +
           " bytes, and the computer accepts at most " + withThousands(kMaxComputerMessageBytes);
}

}  // namespace

std::optional<std::string> checkText(const std::string& text) {
    if (text.empty()) return std::string("there is nothing to type: the text is empty");
    return checkEncodedSize(RemoteMessage::Text{text}, "the text");
}

std::optional<std::string> checkSecret(const std::string& secret, bool enter) {
    if (secret.empty()) return std::string("the password is empty; nothing was sent");
    return checkEncodedSize(RemoteMessage::Secret{secret, enter}, "the password");
}

std::optional<RemoteKey> keyFromName(std::string_view name) {
    for (const auto key : kAllRemoteKeys) {
        const auto wire = rawValue(key);
        if (wire.size() != name.size()) continue;
        bool same = true;
        for (std::size_t i = 0; i < wire.size() && same; ++i) {
            const auto lower = [](char c) {
                return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
            };
            same = lower(wire[i]) == lower(name[i]);
        }
        if (same) return key;
    }
    return std::nullopt;
}

}  // namespace kestrune::phone
