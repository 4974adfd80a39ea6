#include "Kestrune/dictation/keys/TriggerKey.hpp"

#include <algorithm>
#include <charconv>

#include "Kestrune/dictation/keys/KeyCatalog.hpp"

namespace kestrune {

namespace {

std::optional<std::int64_t> parseSignedDecimal(std::string_view text) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    std::int64_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    return value;
}

}  // namespace

const std::array<TriggerKey, 4>& TriggerKey::presets() {
    static const std::array<TriggerKey, 4> all{modifier(63), modifier(61), modifier(62),
                                               modifier(54)};
    return all;
}

std::string TriggerKey::persistedValue() const {
    return (kind_ == Kind::modifier ? "modifier:" : "key:") + std::to_string(keyCode_);
}

std::optional<TriggerKey> TriggerKey::fromPersistedValue(std::string_view text) {
    // Split at the first colon that ends a non-empty piece; empty pieces do not count.
    text.remove_prefix(std::min(text.find_first_not_of(':'), text.size()));
    auto colon = text.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    std::string_view head = text.substr(0, colon);
    std::string_view tail = text.substr(colon + 1);
    if (head.empty() || tail.empty()) return std::nullopt;
    auto code = parseSignedDecimal(tail);
    if (!code) return std::nullopt;
    if (head == "modifier") return modifier(*code);
    if (head == "key") return dedicatedKey(*code);
    return std::nullopt;
}

std::optional<TriggerKey> TriggerKey::binding(std::int64_t keyCode) {
    if (const auto* descriptor = KeyCatalog::find(keyCode)) {
        switch (descriptor->role) {
            case KeyCatalog::Role::typing:
            case KeyCatalog::Role::essential:
            case KeyCatalog::Role::latchingToggle:
                return std::nullopt;
            case KeyCatalog::Role::modifier:
                return modifier(keyCode);
            default:
                break;
        }
    }
    return dedicatedKey(keyCode);
}

bool TriggerKey::isPreset() const {
    const auto& all = presets();
    return std::find(all.begin(), all.end(), *this) != all.end();
}

}  // namespace kestrune
