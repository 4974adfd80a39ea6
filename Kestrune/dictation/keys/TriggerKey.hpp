#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrune {

// The push-to-talk key: a modifier watched through modifier changes, or a dedicated spare key
// whose presses are taken away from other applications.
class TriggerKey {
  public:
    enum class Kind { modifier, dedicatedKey };

    static constexpr TriggerKey modifier(std::int64_t keyCode) { return {Kind::modifier, keyCode}; }
    static constexpr TriggerKey dedicatedKey(std::int64_t keyCode) {
        return {Kind::dedicatedKey, keyCode};
    }

    // Fn, Right Alt, Right Ctrl, Right Super, in their stored order.
    static const std::array<TriggerKey, 4>& presets();

    // The stored form, e.g. "modifier:63" or "key:96".
    std::string persistedValue() const;
    static std::optional<TriggerKey> fromPersistedValue(std::string_view text);

    // What a key pressed in the recorder becomes; none for keys needed for typing.
    static std::optional<TriggerKey> binding(std::int64_t keyCode);

    bool isPreset() const;
    Kind kind() const { return kind_; }
    std::int64_t keyCode() const { return keyCode_; }
    bool operator==(const TriggerKey&) const = default;

  private:
    constexpr TriggerKey(Kind kind, std::int64_t keyCode) : kind_(kind), keyCode_(keyCode) {}
    Kind kind_;
    std::int64_t keyCode_;
};

}  // namespace kestrune
