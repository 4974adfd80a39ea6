#include <charconv>
#include <type_traits>
#include <utility>

#include <boost/json/monotonic_resource.hpp>
#include <boost/json/serialize.hpp>
#include <boost/json/value.hpp>

#include "KestruneRemoteKit/Protocol/Base64.hpp"
#include "KestruneRemoteKit/Protocol/RemoteMessage.hpp"
#include "KestruneRemoteKit/Protocol/RemoteMessageWire.hpp"
#include "KestruneRemoteKit/Protocol/StrictJson.hpp"

namespace kestrune {
namespace {

namespace json = boost::json;
using M = RemoteMessage;
using Failure = M::DecodingFailure;

// Room on the stack for the parsed document of every message but picture chunks.
constexpr std::size_t kInlineArenaBytes = 4096;

// Integral numbers are already integers here (see parseJson), so a double is never one, and an
// unsigned value only appears above the signed range.
std::optional<std::int64_t> strictInt(const json::value* v) {
    if (v && v->is_int64()) return v->get_int64();
    return std::nullopt;
}

// The ordinary conversion to a boolean: JSON true and false, and the numbers 1 and 0.
std::optional<bool> lenientBool(const json::value* v) {
    if (!v) return std::nullopt;
    if (v->is_bool()) return v->get_bool();
    if (v->is_int64() && (v->get_int64() == 0 || v->get_int64() == 1)) return v->get_int64() == 1;
    return std::nullopt;
}

// How a list element that is not a modifier is reported: a string as itself, anything else as
// its JSON text.
std::string elementText(const json::value& v) {
    if (v.is_string()) return std::string(v.get_string());
    if (v.is_double()) {
        char buffer[32];
        const auto end = std::to_chars(buffer, buffer + sizeof buffer, v.get_double()).ptr;
        return std::string(buffer, end);
    }
    return json::serialize(v);
}

// Reads one field at a time and keeps the failure of the first read that fails. The readers below
// chain their reads with &&, so the earliest field in reading order decides the failure.
class FieldReader {
  public:
    explicit FieldReader(const json::object& object) : object_(object) {}

    const std::optional<Failure>& failure() const { return failure_; }

    bool string(std::string_view key, std::string& out) {
        const auto* text = stringAt(key);
        if (!text) return fail(Failure::missingField(std::string(key)));
        out.assign(text->data(), text->size());
        return true;
    }
    bool integerAtLeast(std::string_view key, std::int64_t minimum, std::int64_t& out) {
        const auto number = strictInt(object_.if_contains(key));
        if (!number || *number < minimum) return fail(Failure::invalidField(std::string(key)));
        out = *number;
        return true;
    }
    bool requiredBool(std::string_view key, bool& out) {
        const auto* v = object_.if_contains(key);
        if (!v || !v->is_bool()) return fail(Failure::invalidField(std::string(key)));
        out = v->get_bool();
        return true;
    }
    bool optionalBool(std::string_view key, bool& out) {
        const auto* v = object_.if_contains(key);
        if (!v) {
            out = false;
            return true;
        }
        return requiredBool(key, out);
    }
    bool optionalString(std::string_view key, std::optional<std::string>& out) {
        const auto* v = object_.if_contains(key);
        if (!v) return true;
        if (!v->is_string()) return fail(Failure::invalidField(std::string(key)));
        out.emplace(v->get_string());
        return true;
    }
    bool date(std::string_view key, Date& out) {
        const auto* text = stringAt(key);
        const auto date = text ? parseWireDate(*text) : std::nullopt;
        if (!date) return fail(Failure::invalidField(std::string(key)));
        out = *date;
        return true;
    }
    bool data(Bytes& out) {
        const auto* text = stringAt("data");
        if (!text) return fail(Failure::missingField("data"));
        auto bytes = base64Decoded(*text);
        if (!bytes) return fail(Failure::invalidField("data"));
        out = std::move(*bytes);
        return true;
    }
    bool format(ImageFormat& out) {
        const auto* text = stringAt("format");
        if (!text) return fail(Failure::missingField("format"));
        const auto format = imageFormatFromRaw(*text);
        if (!format) return fail(Failure::invalidField("format"));
        out = *format;
        return true;
    }
    bool size(std::int64_t& out) { return integerAtLeast("size", 1, out); }
    bool index(std::int64_t& out) { return integerAtLeast("index", 0, out); }
    bool seq(std::int64_t& out) { return integerAtLeast("seq", 0, out); }
    bool n(std::int64_t& out) { return integerAtLeast("n", 0, out); }

    bool modifiers(std::vector<M::Modifier>& out) {
        const auto* v = object_.if_contains("mods");
        if (!v || !v->is_array()) return fail(Failure::missingField("mods"));
        for (const json::value& element : v->get_array()) {
            const auto modifier =
                element.is_string() ? modifierFromRaw(element.get_string()) : std::nullopt;
            if (!modifier) return fail(Failure::unknownModifier(elementText(element)));
            out.push_back(*modifier);
        }
        return true;
    }
    bool acceptsSecret(bool& out) {
        const auto* v = object_.if_contains("accepts");
        out = false;
        if (!v) return true;
        if (!v->is_array()) return fail(Failure::invalidField("accepts"));
        for (const json::value& element : v->get_array()) {
            if (!element.is_string()) return fail(Failure::invalidField("accepts"));
            if (element.get_string() == "secret") out = true;
        }
        return true;
    }
    bool ok(bool& out) {
        const auto flag = lenientBool(object_.if_contains("ok"));
        if (!flag) return fail(Failure::missingField("ok"));
        out = *flag;
        return true;
    }
    // A non-string error is treated as absent rather than refused.
    void errorIfString(std::optional<std::string>& out) {
        const auto* v = object_.if_contains("error");
        if (v && v->is_string()) out.emplace(v->get_string());
    }

  private:
    const json::string* stringAt(std::string_view key) const {
        const auto* v = object_.if_contains(key);
        return v && v->is_string() ? &v->get_string() : nullptr;
    }
    bool fail(Failure failure) {
        if (!failure_) failure_ = std::move(failure);
        return false;
    }

    const json::object& object_;
    std::optional<Failure> failure_;
};

// Each reader lists its fields in reading order; the first one that fails decides.
bool readFields(FieldReader& r, M::Text& m) {
    return r.string("payload", m.payload);
}
bool readFields(FieldReader& r, M::Key& m) {
    return r.string("payload", m.payload);
}
bool readFields(FieldReader& r, M::Hotkey& m) {
    return r.string("key", m.key) && r.modifiers(m.mods);
}
bool readFields(FieldReader& r, M::Ack& m) {
    if (!r.ok(m.ok) || !r.optionalString("saved", m.saved) ||
        !r.optionalString("savedIn", m.savedIn)) {
        return false;
    }
    r.errorIfString(m.error);
    return true;
}
bool readFields(FieldReader& r, M::Pair& m) {
    return r.string("token", m.token) && r.string("name", m.name);
}
bool readFields(FieldReader& r, M::Paired& m) {
    return r.string("secret", m.secret);
}
bool readFields(FieldReader& r, M::Hello& m) {
    return r.string("secret", m.secret);
}
bool readFields(FieldReader& r, M::ImageBegin& m) {
    return r.format(m.format) && r.size(m.size) && r.optionalBool("save", m.save) &&
           r.string("id", m.id);
}
bool readFields(FieldReader& r, M::ImageChunk& m) {
    return r.index(m.index) && r.data(m.data) && r.string("id", m.id);
}
bool readFields(FieldReader& r, M::ImageEnd& m) {
    return r.string("id", m.id);
}
bool readFields(FieldReader& r, M::Secret& m) {
    return r.requiredBool("enter", m.enter) && r.string("payload", m.payload);
}
bool readFields(FieldReader& r, M::Subscribe& m) {
    return r.acceptsSecret(m.acceptsSecret);
}
bool readFields(FieldReader& r, M::Heartbeat& m) {
    return r.n(m.n);
}
bool readFields(FieldReader& r, M::HeartbeatAck& m) {
    return r.n(m.n);
}
bool readFields(FieldReader& r, M::PushText& m) {
    return r.string("id", m.id) && r.seq(m.seq) && r.string("text", m.text) &&
           r.date("sentAt", m.sentAt);
}
bool readFields(FieldReader& r, M::PushSecret& m) {
    return r.string("id", m.id) && r.seq(m.seq) && r.string("payload", m.payload) &&
           r.date("sentAt", m.sentAt);
}
bool readFields(FieldReader& r, M::PushImageBegin& m) {
    return r.format(m.format) && r.size(m.size) && r.string("id", m.id) && r.seq(m.seq) &&
           r.date("sentAt", m.sentAt);
}
bool readFields(FieldReader& r, M::PushImageChunk& m) {
    return r.index(m.index) && r.data(m.data) && r.string("id", m.id);
}
bool readFields(FieldReader& r, M::PushImageEnd& m) {
    return r.string("id", m.id);
}
bool readFields(FieldReader& r, M::PushAck& m) {
    return r.string("id", m.id);
}

template <typename Case>
Result<M, Failure> readCase(FieldReader& reader) {
    Case message;
    if (!readFields(reader, message)) return *reader.failure();
    return M(std::move(message));
}

// Finds the case whose wire type is `type` and reads it; none when no case has that type.
template <std::size_t... I>
std::optional<Result<M, Failure>> readType(std::string_view type, FieldReader& reader,
                                           std::index_sequence<I...>) {
    std::optional<Result<M, Failure>> result;
    const auto tryCase = [&]<typename Case>(std::type_identity<Case>) {
        if (type != detail::wireType<Case>) return false;
        result.emplace(readCase<Case>(reader));
        return true;
    };
    (void)(tryCase(std::type_identity<std::variant_alternative_t<I, M::Value>>{}) || ...);
    return result;
}

}  // namespace

Result<M, Failure> RemoteMessage::decode(std::string_view frame) {
    unsigned char arena[kInlineArenaBytes];
    json::monotonic_resource resource(arena, sizeof arena);
    const auto document = detail::parseJson(frame, &resource);
    if (!document || !document->is_object()) return Failure::malformed();
    const json::object& object = document->get_object();

    const auto* version = object.if_contains("v");
    const auto versionNumber = strictInt(version);
    if (versionNumber != kProtocolVersion) return Failure::unsupportedVersion(versionNumber);

    const auto* type = object.if_contains("type");
    if (!type || !type->is_string()) return Failure::missingField("type");

    FieldReader reader(object);
    auto result = readType(type->get_string(), reader,
                           std::make_index_sequence<std::variant_size_v<Value>>{});
    if (!result) return Failure::unknownType(std::string(type->get_string()));
    return std::move(*result);
}

}  // namespace kestrune
