#include "KestruneRemoteKit/Protocol/PairingPayload.hpp"

#include <iterator>
#include <memory>
#include <utility>

#include <unicode/brkiter.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include "KestruneRemoteKit/Protocol/Utf8.hpp"

namespace kestrune {
namespace {

// DNS limits: a whole name and a single label.
constexpr std::size_t kMaxHostLength = 253;
constexpr std::size_t kMaxLabelLength = 63;
constexpr std::size_t kFingerprintLength = 64;  // SHA-256 in hexadecimal
constexpr std::uint32_t kMaxPort = 65535;

bool isAsciiLetterOrDigit(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

std::optional<int> hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return std::nullopt;
}

std::string percentEncoded(std::string_view value) {
    static constexpr char kHexDigits[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(value.size() * 3);
    for (char c : value) {
        if (isAsciiLetterOrDigit(c)) {
            encoded.push_back(c);
        } else {
            const auto byte = static_cast<unsigned char>(c);
            encoded.push_back('%');
            encoded.push_back(kHexDigits[byte >> 4]);
            encoded.push_back(kHexDigits[byte & 0x0F]);
        }
    }
    return encoded;
}

// None when a "%" is not followed by two hexadecimal digits or the bytes are not UTF-8 text.
std::optional<std::string> percentDecoded(std::string_view value) {
    std::string decoded;
    decoded.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '%') {
            decoded.push_back(value[i]);
            continue;
        }
        if (i + 2 >= value.size()) return std::nullopt;
        const auto high = hexValue(value[i + 1]), low = hexValue(value[i + 2]);
        if (!high || !low) return std::nullopt;
        decoded.push_back(static_cast<char>(*high * 16 + *low));
        i += 2;
    }
    if (!detail::isValidUtf8(decoded)) return std::nullopt;
    return decoded;
}

// The values of the link's own keys; a later pair with the same key replaces an earlier one, and
// other keys are skipped without decoding them, so a link is read in one pass however many pairs
// it holds.
class LinkQuery {
  public:
    explicit LinkQuery(std::string_view query) {
        while (!query.empty()) {
            const std::size_t end = query.find('&');
            const std::string_view part = query.substr(0, end);
            query = end == std::string_view::npos ? std::string_view{} : query.substr(end + 1);
            const std::size_t equals = part.find('=');
            if (equals == std::string_view::npos) continue;  // also drops empty parts
            auto* slot = slotFor(part.substr(0, equals));
            if (!slot) continue;
            const std::string_view raw = part.substr(equals + 1);
            *slot = percentDecoded(raw).value_or(std::string(raw));
        }
    }

    // The value under `key`, none when absent or empty.
    std::optional<std::string> nonEmpty(std::string_view key) const {
        const auto found = value(key);
        return found && !found->empty() ? found : std::nullopt;
    }
    std::optional<std::string> value(std::string_view key) const {
        const auto index = indexOf(key);
        return index ? values_[*index] : std::nullopt;
    }

  private:
    static constexpr std::string_view kKeys[] = {"h", "p", "f", "t", "n"};

    static std::optional<std::size_t> indexOf(std::string_view key) {
        for (std::size_t i = 0; i < std::size(kKeys); ++i) {
            if (kKeys[i] == key) return i;
        }
        return std::nullopt;
    }
    std::optional<std::string>* slotFor(std::string_view key) {
        const auto index = indexOf(key);
        return index ? &values_[*index] : nullptr;
    }

    std::optional<std::string> values_[std::size(kKeys)];
};

// A decimal number in 0...65535 with an optional sign ("+80"; "-0" is zero).
std::optional<std::uint16_t> parsePort(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    std::uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
        if (value > kMaxPort) return std::nullopt;
    }
    if (negative && value != 0) return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

bool isHexFingerprint(std::string_view text) {
    if (text.size() != kFingerprintLength) return false;
    for (char c : text) {
        if (!hexValue(c)) return false;
    }
    return true;
}

bool isNameWhitespace(UChar32 c) {
    return u_isUWhiteSpace(c);
}

void trimTrailingWhitespace(icu::UnicodeString& text) {
    int32_t end = text.length();
    while (end > 0 && isNameWhitespace(text.char32At(text.moveIndex32(end, -1)))) {
        end = text.moveIndex32(end, -1);
    }
    text.truncate(end);
}

// Where the first `count` user-perceived characters (grapheme clusters) of `text` end. Without
// ICU's break rules (missing data) it counts code points, so a name is never cut longer.
int32_t endOfLeadingCharacters(const icu::UnicodeString& text, std::size_t count) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> graphemes(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status)) return text.moveIndex32(0, static_cast<int32_t>(count));
    graphemes->setText(text);
    int32_t end = graphemes->first();
    for (std::size_t i = 0; i < count; ++i) {
        const int32_t next = graphemes->next();
        if (next == icu::BreakIterator::DONE) break;
        end = next;
    }
    return end;
}

}  // namespace

PairingPayload::PairingPayload(std::string host, std::uint16_t port, std::string fingerprint,
                               std::string token, std::optional<std::string_view> name)
    : host(std::move(host)),
      port(port),
      fingerprint(std::move(fingerprint)),
      token(std::move(token)),
      name(name ? sanitizedName(*name) : std::nullopt) {}

std::string PairingPayload::encoded() const {
    std::string link(kLinkPrefix);
    link += "h=" + percentEncoded(host);
    link += "&p=" + std::to_string(port);
    link += "&f=" + percentEncoded(fingerprint);
    link += "&t=" + percentEncoded(token);
    if (name) link += "&n=" + percentEncoded(*name);
    return link;
}

Result<PairingPayload, PairingPayload::Failure> PairingPayload::decode(std::string_view link) {
    // Read as text, the way a scanned code arrives: ill-formed bytes become U+FFFD.
    const std::string text = detail::repairedUtf8(link);
    if (!std::string_view(text).starts_with(kLinkPrefix)) return Failure::wrongScheme();
    const LinkQuery query(std::string_view(text).substr(kLinkPrefix.size()));

    const auto host = query.nonEmpty("h");
    if (!host) return Failure::missingField("h");
    if (!isConnectableHost(*host)) return Failure::badHost();

    const auto portText = query.nonEmpty("p");
    if (!portText) return Failure::missingField("p");
    const auto port = parsePort(*portText);
    if (!port) return Failure::badPort();

    const auto fingerprint = query.nonEmpty("f");
    if (!fingerprint) return Failure::missingField("f");
    if (!isHexFingerprint(*fingerprint)) return Failure::badFingerprint();

    const auto token = query.nonEmpty("t");
    if (!token) return Failure::missingField("t");

    const auto name = query.value("n");
    return PairingPayload(*host, *port, *fingerprint, *token,
                          name ? std::optional<std::string_view>(*name) : std::nullopt);
}

bool PairingPayload::isConnectableHost(std::string_view host) {
    if (host.empty() || host.size() > kMaxHostLength) return false;
    while (true) {
        const std::size_t dot = host.find('.');
        const std::string_view label = host.substr(0, dot);
        if (label.empty() || label.size() > kMaxLabelLength) return false;
        if (label.front() == '-' || label.back() == '-') return false;
        for (char c : label) {
            if (!isAsciiLetterOrDigit(c) && c != '-') return false;
        }
        if (dot == std::string_view::npos) return true;
        host.remove_prefix(dot + 1);
    }
}

std::optional<std::string> PairingPayload::sanitizedName(std::string_view name) {
    const icu::UnicodeString input = icu::UnicodeString::fromUTF8(
        icu::StringPiece(name.data(), static_cast<int32_t>(name.size())));

    icu::UnicodeString cleaned;
    for (int32_t i = 0; i < input.length(); i = input.moveIndex32(i, 1)) {
        const UChar32 c = input.char32At(i);
        const auto category = static_cast<UCharCategory>(u_charType(c));
        if (category != U_CONTROL_CHAR && category != U_FORMAT_CHAR) cleaned.append(c);
    }

    int32_t start = 0;
    while (start < cleaned.length() && isNameWhitespace(cleaned.char32At(start))) {
        start = cleaned.moveIndex32(start, 1);
    }
    cleaned.remove(0, start);
    trimTrailingWhitespace(cleaned);
    if (cleaned.isEmpty()) return std::nullopt;

    const int32_t end = endOfLeadingCharacters(cleaned, kMaxNameLength);
    if (end < cleaned.length()) {
        cleaned.truncate(end);
        // A cut can end on a space; trimming again keeps a cleaned name clean when it is cleaned
        // a second time, so a link carries the name it was made with.
        trimTrailingWhitespace(cleaned);
    }

    std::string result;
    cleaned.toUTF8String(result);
    return result;
}

}  // namespace kestrune
