#include <boost/json/monotonic_resource.hpp>
#include <boost/json/serializer.hpp>
#include <boost/json/value.hpp>

#include "KestruneRemoteKit/Protocol/Base64.hpp"
#include "KestruneRemoteKit/Protocol/RemoteMessage.hpp"
#include "KestruneRemoteKit/Protocol/RemoteMessageWire.hpp"
#include "KestruneRemoteKit/Protocol/Utf8.hpp"

namespace kestrune {
namespace {

namespace json = boost::json;
using M = RemoteMessage;

// Enough for every message but picture chunks, so small messages build without a heap block.
constexpr std::size_t kInlineArenaBytes = 2048;

// Builds the object key by key in wire order. A text that is not UTF-8 would make a frame the
// peer must refuse, so it fails the encoding instead of going out.
class ObjectWriter {
  public:
    explicit ObjectWriter(json::storage_ptr sp) : object_(std::move(sp)) {}

    void string(std::string_view key, std::string_view text) {
        if (!detail::isValidUtf8(text)) {
            if (!failure_) failure_ = std::string(key).append(" is not valid UTF-8");
            return;
        }
        object_.emplace(key, text);
        expectSize(key, text.size());
    }
    void integer(std::string_view key, std::int64_t number) {
        object_.emplace(key, number);
        expectSize(key, kLongestInteger);
    }
    void boolean(std::string_view key, bool flag) {
        object_.emplace(key, flag);
        expectSize(key, kLongestBoolean);
    }
    void date(std::string_view key, Date date) {
        std::string text = formatWireDate(date);
        expectSize(key, text.size());
        object_.emplace(key, std::move(text));
    }
    void bytes(std::string_view key, const Bytes& data) {
        json::string text(object_.storage());
        text.resize(base64EncodedLength(data.size()));
        base64EncodeInto(data, text.data());
        expectSize(key, text.size());
        object_.emplace(key, std::move(text));
    }
    void stringArray(std::string_view key, std::initializer_list<std::string_view> texts) {
        json::array array(object_.storage());
        std::size_t size = 0;
        for (std::string_view text : texts) {
            array.emplace_back(text);
            size += text.size() + kPunctuation;
        }
        expectSize(key, size);
        object_.emplace(key, std::move(array));
    }
    void modifiers(std::string_view key, const std::vector<M::Modifier>& mods) {
        json::array array(object_.storage());
        std::size_t size = 0;
        for (M::Modifier modifier : mods) {
            array.emplace_back(rawValue(modifier));
            size += rawValue(modifier).size() + kPunctuation;
        }
        expectSize(key, size);
        object_.emplace(key, std::move(array));
    }

    const json::object& object() const { return object_; }
    // What the text will take when nothing needs escaping; picture chunks come out in one piece.
    std::size_t expectedSize() const { return expectedSize_; }
    const std::optional<std::string>& failure() const { return failure_; }

  private:
    // Quotes, colon, comma and braces around a key and its value.
    static constexpr std::size_t kPunctuation = 8;
    static constexpr std::size_t kLongestInteger = 20;  // -9223372036854775808
    static constexpr std::size_t kLongestBoolean = 5;   // false

    void expectSize(std::string_view key, std::size_t valueSize) {
        expectedSize_ += key.size() + valueSize + kPunctuation;
    }

    json::object object_;
    std::optional<std::string> failure_;
    std::size_t expectedSize_ = kPunctuation;
};

void writeFields(ObjectWriter& w, const M::Text& m) {
    w.string("payload", m.payload);
}
void writeFields(ObjectWriter& w, const M::Key& m) {
    w.string("payload", m.payload);
}
void writeFields(ObjectWriter& w, const M::Hotkey& m) {
    w.string("key", m.key);
    w.modifiers("mods", m.mods);
}
void writeFields(ObjectWriter& w, const M::Ack& m) {
    w.boolean("ok", m.ok);
    if (m.error) w.string("error", *m.error);
    if (m.saved) w.string("saved", *m.saved);
    if (m.savedIn) w.string("savedIn", *m.savedIn);
}
void writeFields(ObjectWriter& w, const M::Pair& m) {
    w.string("token", m.token);
    w.string("name", m.name);
}
void writeFields(ObjectWriter& w, const M::Paired& m) {
    w.string("secret", m.secret);
}
void writeFields(ObjectWriter& w, const M::Hello& m) {
    w.string("secret", m.secret);
}
void writeFields(ObjectWriter& w, const M::ImageBegin& m) {
    w.string("id", m.id);
    w.string("format", rawValue(m.format));
    w.integer("size", m.size);
    if (m.save) w.boolean("save", true);
}
void writeFields(ObjectWriter& w, const M::ImageChunk& m) {
    w.string("id", m.id);
    w.integer("index", m.index);
    w.bytes("data", m.data);
}
void writeFields(ObjectWriter& w, const M::ImageEnd& m) {
    w.string("id", m.id);
}
void writeFields(ObjectWriter& w, const M::Secret& m) {
    w.string("payload", m.payload);
    w.boolean("enter", m.enter);
}
void writeFields(ObjectWriter& w, const M::Subscribe& m) {
    if (m.acceptsSecret) w.stringArray("accepts", {"secret"});
}
void writeFields(ObjectWriter& w, const M::Heartbeat& m) {
    w.integer("n", m.n);
}
void writeFields(ObjectWriter& w, const M::HeartbeatAck& m) {
    w.integer("n", m.n);
}
void writeFields(ObjectWriter& w, const M::PushText& m) {
    w.string("id", m.id);
    w.integer("seq", m.seq);
    w.string("text", m.text);
    w.date("sentAt", m.sentAt);
}
void writeFields(ObjectWriter& w, const M::PushSecret& m) {
    w.string("id", m.id);
    w.integer("seq", m.seq);
    w.string("payload", m.payload);
    w.date("sentAt", m.sentAt);
}
void writeFields(ObjectWriter& w, const M::PushImageBegin& m) {
    w.string("id", m.id);
    w.string("format", rawValue(m.format));
    w.integer("size", m.size);
    w.integer("seq", m.seq);
    w.date("sentAt", m.sentAt);
}
void writeFields(ObjectWriter& w, const M::PushImageChunk& m) {
    w.string("id", m.id);
    w.integer("index", m.index);
    w.bytes("data", m.data);
}
void writeFields(ObjectWriter& w, const M::PushImageEnd& m) {
    w.string("id", m.id);
}
void writeFields(ObjectWriter& w, const M::PushAck& m) {
    w.string("id", m.id);
}

}  // namespace

Result<std::string, M::EncodingFailure> RemoteMessage::encoded() const {
    unsigned char arena[kInlineArenaBytes];
    json::monotonic_resource resource(arena, sizeof arena);
    ObjectWriter writer(&resource);
    writer.integer("v", kProtocolVersion);
    writer.string("type", typeName());
    std::visit([&](const auto& c) { writeFields(writer, c); }, value);
    if (writer.failure()) return EncodingFailure{*writer.failure()};
    // Boost.JSON never escapes "/" and keeps the insertion order of keys.
    json::serializer serializer;
    serializer.reset(&writer.object());
    std::string text(writer.expectedSize(), '\0');
    std::size_t written = 0;
    while (true) {
        written += serializer.read(text.data() + written, text.size() - written).size();
        if (serializer.done()) break;
        text.resize(text.size() * 2);
    }
    text.resize(written);
    return text;
}

}  // namespace kestrune
