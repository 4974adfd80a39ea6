#pragma once

#include <string>
#include <type_traits>
#include <utility>
#include <variant>

#include "KestruneRemoteKit/Protocol/RemoteMessage.hpp"
#include "KestruneRemoteKit/Support/VariantCases.hpp"

namespace kestrune {

// What the computer sends to a phone: a text, a picture or a password. The computer's outbox keeps
// it and the phone's push receiver hands it out in this one shape, so both ends agree on it.
struct PushContent : VariantCases<PushContent> {
    struct Text {
        std::string text;
        bool operator==(const Text&) const = default;
    };
    struct Image {
        Bytes data;
        ImageFormat format = ImageFormat::jpeg;
        bool operator==(const Image&) const = default;
    };
    struct Secret {
        std::string secret;
        bool operator==(const Secret&) const = default;
    };

    using Value = std::variant<Text, Image, Secret>;
    Value value;

    template <typename Case>
    requires(!std::is_same_v<std::decay_t<Case>, PushContent> &&
             std::is_constructible_v<Value, Case>) PushContent(Case c)
        : value(std::move(c)) {}

    static PushContent text(std::string text) { return Text{std::move(text)}; }
    static PushContent image(Bytes data, ImageFormat format) {
        return Image{std::move(data), format};
    }
    static PushContent secret(std::string secret) { return Secret{std::move(secret)}; }

    bool operator==(const PushContent&) const = default;
};

}  // namespace kestrune
