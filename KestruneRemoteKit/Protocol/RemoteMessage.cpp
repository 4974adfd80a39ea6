#include "KestruneRemoteKit/Protocol/RemoteMessage.hpp"

#include "KestruneRemoteKit/Protocol/RemoteMessageWire.hpp"

namespace kestrune {

std::string_view rawValue(ImageFormat format) {
    switch (format) {
        case ImageFormat::jpeg:
            return "jpeg";
        case ImageFormat::png:
            return "png";
        case ImageFormat::heic:
            return "heic";
    }
    return "jpeg";
}

std::optional<ImageFormat> imageFormatFromRaw(std::string_view raw) {
    for (ImageFormat format : kAllImageFormats) {
        if (rawValue(format) == raw) return format;
    }
    return std::nullopt;
}

std::string_view rawValue(RemoteKey key) {
    switch (key) {
        case RemoteKey::returnKey:
            return "RETURN";
        case RemoteKey::tab:
            return "TAB";
    }
    return "RETURN";
}

std::optional<RemoteKey> remoteKeyFromRaw(std::string_view raw) {
    for (RemoteKey key : kAllRemoteKeys) {
        if (rawValue(key) == raw) return key;
    }
    return std::nullopt;
}

std::string_view rawValue(RemoteMessage::Modifier modifier) {
    switch (modifier) {
        case RemoteMessage::Modifier::cmd:
            return "cmd";
        case RemoteMessage::Modifier::shift:
            return "shift";
        case RemoteMessage::Modifier::option:
            return "option";
        case RemoteMessage::Modifier::control:
            return "control";
    }
    return "cmd";
}

std::optional<RemoteMessage::Modifier> modifierFromRaw(std::string_view raw) {
    for (RemoteMessage::Modifier modifier : RemoteMessage::kAllModifiers) {
        if (rawValue(modifier) == raw) return modifier;
    }
    return std::nullopt;
}

std::string_view RemoteMessage::typeName() const {
    return std::visit([](const auto& c) { return detail::wireType<std::decay_t<decltype(c)>>; },
                      value);
}

using Failure = RemoteMessage::DecodingFailure;

Failure Failure::unsupportedVersion(std::optional<std::int64_t> found) {
    return {Kind::unsupportedVersion, found, {}};
}
Failure Failure::unknownType(std::string type) {
    return {Kind::unknownType, std::nullopt, std::move(type)};
}
Failure Failure::missingField(std::string key) {
    return {Kind::missingField, std::nullopt, std::move(key)};
}
Failure Failure::unknownModifier(std::string element) {
    return {Kind::unknownModifier, std::nullopt, std::move(element)};
}
Failure Failure::invalidField(std::string key) {
    return {Kind::invalidField, std::nullopt, std::move(key)};
}
Failure Failure::malformed() {
    return {Kind::malformed, std::nullopt, {}};
}

}  // namespace kestrune
