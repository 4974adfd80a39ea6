#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include "KestruneRemoteKit/Support/Result.hpp"
#include "KestruneRemoteKit/Support/VariantCases.hpp"

namespace kestrune {

using Bytes = std::vector<std::uint8_t>;
// Wall-clock instants on the wire and in stored files; written with whole seconds.
using Date = std::chrono::system_clock::time_point;

enum class ImageFormat { jpeg, png, heic };
inline constexpr ImageFormat kAllImageFormats[] = {ImageFormat::jpeg, ImageFormat::png,
                                                   ImageFormat::heic};
std::string_view rawValue(ImageFormat format);
std::optional<ImageFormat> imageFormatFromRaw(std::string_view raw);

// The single keys a phone can send in a `key` message.
enum class RemoteKey { returnKey, tab };
inline constexpr RemoteKey kAllRemoteKeys[] = {RemoteKey::returnKey, RemoteKey::tab};
std::string_view rawValue(RemoteKey key);
std::optional<RemoteKey> remoteKeyFromRaw(std::string_view raw);

struct RemoteMessage : VariantCases<RemoteMessage> {
    static constexpr int kProtocolVersion = 1;

    enum class Modifier { cmd, shift, option, control };
    static constexpr Modifier kAllModifiers[] = {Modifier::cmd, Modifier::shift, Modifier::option,
                                                 Modifier::control};

    struct Text {
        std::string payload;
        bool operator==(const Text&) const = default;
    };
    struct Key {
        std::string payload;
        bool operator==(const Key&) const = default;
    };
    struct Hotkey {
        std::string key;
        std::vector<Modifier> mods;
        bool operator==(const Hotkey&) const = default;
    };
    struct Ack {
        bool ok = false;
        std::optional<std::string> error;
        std::optional<std::string> saved;
        std::optional<std::string> savedIn;
        bool operator==(const Ack&) const = default;
    };
    struct Pair {
        std::string token;
        std::string name;
        bool operator==(const Pair&) const = default;
    };
    struct Paired {
        std::string secret;
        bool operator==(const Paired&) const = default;
    };
    struct Hello {
        std::string secret;
        bool operator==(const Hello&) const = default;
    };
    struct ImageBegin {
        std::string id;
        ImageFormat format = ImageFormat::jpeg;
        std::int64_t size = 0;
        bool save = false;
        bool operator==(const ImageBegin&) const = default;
    };
    struct ImageChunk {
        std::string id;
        std::int64_t index = 0;
        Bytes data;
        bool operator==(const ImageChunk&) const = default;
    };
    struct ImageEnd {
        std::string id;
        bool operator==(const ImageEnd&) const = default;
    };
    struct Secret {
        std::string payload;
        bool enter = false;
        bool operator==(const Secret&) const = default;
    };
    struct Subscribe {
        bool acceptsSecret = false;
        bool operator==(const Subscribe&) const = default;
    };
    struct Heartbeat {
        std::int64_t n = 0;
        bool operator==(const Heartbeat&) const = default;
    };
    struct HeartbeatAck {
        std::int64_t n = 0;
        bool operator==(const HeartbeatAck&) const = default;
    };
    struct PushText {
        std::string id;
        std::int64_t seq = 0;
        std::string text;
        Date sentAt;
        bool operator==(const PushText&) const = default;
    };
    struct PushSecret {
        std::string id;
        std::int64_t seq = 0;
        std::string payload;
        Date sentAt;
        bool operator==(const PushSecret&) const = default;
    };
    struct PushImageBegin {
        std::string id;
        ImageFormat format = ImageFormat::jpeg;
        std::int64_t size = 0;
        std::int64_t seq = 0;
        Date sentAt;
        bool operator==(const PushImageBegin&) const = default;
    };
    struct PushImageChunk {
        std::string id;
        std::int64_t index = 0;
        Bytes data;
        bool operator==(const PushImageChunk&) const = default;
    };
    struct PushImageEnd {
        std::string id;
        bool operator==(const PushImageEnd&) const = default;
    };
    struct PushAck {
        std::string id;
        bool operator==(const PushAck&) const = default;
    };

    using Value = std::variant<Text, Key, Hotkey, Ack, Pair, Paired, Hello, ImageBegin, ImageChunk,
                               ImageEnd, Secret, Subscribe, Heartbeat, HeartbeatAck, PushText,
                               PushSecret, PushImageBegin, PushImageChunk, PushImageEnd, PushAck>;

    struct DecodingFailure {
        enum class Kind {
            unsupportedVersion,
            unknownType,
            missingField,
            unknownModifier,
            invalidField,
            malformed
        };
        Kind kind = Kind::malformed;
        // unsupportedVersion: the integer found under "v", if any.
        std::optional<std::int64_t> version;
        // unknownType: the type; missingField / invalidField: the key; unknownModifier: the
        // element.
        std::string detail;

        static DecodingFailure unsupportedVersion(std::optional<std::int64_t> found);
        static DecodingFailure unknownType(std::string type);
        static DecodingFailure missingField(std::string key);
        static DecodingFailure unknownModifier(std::string element);
        static DecodingFailure invalidField(std::string key);
        static DecodingFailure malformed();
        bool operator==(const DecodingFailure&) const = default;
    };

    struct EncodingFailure {
        std::string reason;
        bool operator==(const EncodingFailure&) const = default;
    };

    Value value;

    template <typename Case>
    requires(!std::is_same_v<std::decay_t<Case>, RemoteMessage> &&
             std::is_constructible_v<Value, Case>) RemoteMessage(Case c)
        : value(std::move(c)) {}

    // The wire "type" string of this case ("text", "image_begin", …).
    std::string_view typeName() const;

    // The bytes of one WebSocket frame.
    Result<std::string, EncodingFailure> encoded() const;

    // Reads the bytes of one received frame; never throws.
    static Result<RemoteMessage, DecodingFailure> decode(std::string_view frame);

    bool operator==(const RemoteMessage&) const = default;
};

std::string_view rawValue(RemoteMessage::Modifier modifier);
std::optional<RemoteMessage::Modifier> modifierFromRaw(std::string_view raw);

// The wire form of dates: ISO 8601 in UTC with whole seconds, e.g. 2026-03-01T09:30:05Z.
// Fractions of a second are dropped on writing.
std::string formatWireDate(Date date);
// Reads the written form, and also a numeric offset instead of "Z" (2026-03-01T10:30:05+01:00).
// Fractions of a second, other layouts, impossible dates and dates the clock cannot hold are
// refused.
std::optional<Date> parseWireDate(std::string_view text);

}  // namespace kestrune
