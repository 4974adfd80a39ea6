#include "Kestrune/defaults/DefaultsFile.hpp"

#include <optional>
#include <type_traits>

#include <unicode/unistr.h>
#include <boost/json.hpp>

namespace kestrune {

namespace json = boost::json;

namespace {

std::optional<DefaultsValue> valueFromJson(const json::value& value) {
    switch (value.kind()) {
        case json::kind::bool_:
            return DefaultsValue(value.get_bool());
        case json::kind::int64:
            return DefaultsValue(value.get_int64());
        case json::kind::uint64:
            // Only the upper half of uint64 lands here, which no integer setting can hold.
            return std::nullopt;
        case json::kind::string:
            return DefaultsValue(std::string(value.get_string()));
        case json::kind::array: {
            StringList list;
            for (const auto& element : value.get_array()) {
                if (!element.is_string()) return std::nullopt;
                list.emplace_back(element.get_string());
            }
            return DefaultsValue(std::move(list));
        }
        default:
            return std::nullopt;
    }
}

// JSON text is UTF-8, and a single ill-formed byte would make the whole file unreadable at the
// next start, so such bytes are written as U+FFFD instead.
json::string wellFormedText(std::string_view text) {
    std::string repaired;
    icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())))
        .toUTF8String(repaired);
    return json::string(repaired);
}

json::value jsonFromValue(const DefaultsValue& value) {
    return std::visit(
        [](const auto& v) -> json::value {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, StringList>) {
                json::array array;
                for (const auto& s : v) array.emplace_back(wellFormedText(s));
                return array;
            } else if constexpr (std::is_same_v<T, std::string>) {
                return wellFormedText(v);
            } else {
                return json::value(v);
            }
        },
        value);
}

}  // namespace

Result<DecodedDefaults, std::string> decodeDefaultsFile(std::string_view bytes) {
    if (bytes.size() > kMaxDefaultsFileBytes) return std::string("the file is too large");
    std::error_code ec;
    json::parse_options options;  // default depth limit; strict JSON, valid UTF-8 only
    const json::value root = json::parse(bytes, ec, {}, options);
    if (ec) return "not valid JSON: " + ec.message();
    if (!root.is_object()) return std::string("not a JSON object");

    DecodedDefaults decoded;
    for (const auto& member : root.get_object()) {
        std::string key(member.key());
        if (auto value = valueFromJson(member.value())) {
            decoded.values.insert_or_assign(std::move(key), std::move(*value));
        } else {
            decoded.skippedKeys.push_back(std::move(key));
        }
    }
    return decoded;
}

std::string encodeDefaultsFile(const DefaultsDictionary& values) {
    if (values.empty()) return "{}\n";
    std::string out = "{\n";
    bool first = true;
    for (const auto& [key, value] : values) {
        if (!first) out += ",\n";
        first = false;
        out += "  ";
        out += json::serialize(wellFormedText(key));
        out += ": ";
        out += json::serialize(jsonFromValue(value));
    }
    out += "\n}\n";
    return out;
}

}  // namespace kestrune
