#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <boost/json/parse.hpp>

#include "KestruneRemoteKit/Protocol/RemoteMessage.hpp"
#include "tests/support/MessagePrinting.hpp"

namespace kestrune {
namespace {

using M = RemoteMessage;
using namespace std::chrono;

const Date kSentAt = sys_days{year{2026} / 3 / 1} + hours{9} + minutes{30} + seconds{5};

Bytes sampleBytes(std::size_t count) {
    Bytes bytes(count);
    for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(i * 131 + 7);
    return bytes;
}

// Every case, with texts that need escaping, non-ASCII text and boundary numbers.
std::vector<M> everyCase() {
    const std::string tricky = "quote \" backslash \\ slash / tab \t nl \n nul " +
                               std::string(1, '\0') + " \xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
    using Mod = M::Modifier;
    return {
        M::Text{tricky},
        M::Key{"RETURN"},
        M::Hotkey{"K", {Mod::cmd, Mod::shift, Mod::option, Mod::control}},
        M::Ack{false, "busy", "photo.png", "/home/me/Pictures"},
        M::Pair{"123456", "Pixel \xE2\x80\x94 7"},
        M::Paired{"c2VjcmV0+/="},
        M::Hello{tricky},
        M::ImageBegin{"img-1", ImageFormat::heic, 31457280, true},
        M::ImageChunk{"img-1", 9223372036854775807, sampleBytes(1000)},
        M::ImageEnd{"img-1"},
        M::Secret{tricky, true},
        M::Subscribe{true},
        M::Heartbeat{0},
        M::HeartbeatAck{42},
        M::PushText{"8F2C", 7, tricky, kSentAt},
        M::PushSecret{"8F2D", 0, "hunter2", kSentAt},
        M::PushImageBegin{"8F2E", ImageFormat::png, 1, 3, kSentAt},
        M::PushImageChunk{"8F2E", 0, sampleBytes(2)},
        M::PushImageEnd{"8F2E"},
        M::PushAck{"8F2E"},
    };
}

TEST(RemoteMessageRoundTrip, EveryCaseSurvivesEncodeThenDecode) {
    std::set<std::size_t> covered;
    for (const M& message : everyCase()) {
        covered.insert(message.value.index());
        const auto text = message.encoded();
        ASSERT_TRUE(text.ok()) << message.typeName();
        const auto back = M::decode(*text);
        ASSERT_TRUE(back.ok()) << *text << " detail " << back.error().detail;
        EXPECT_EQ(back.value(), message) << *text;
    }
    EXPECT_EQ(covered.size(), std::variant_size_v<M::Value>);
}

TEST(RemoteMessageRoundTrip, OptionalAndFalseValuesSurviveToo) {
    const M messages[] = {
        M::Text{""},
        M::Hotkey{"", {}},
        M::Ack{true, {}, {}, {}},
        M::Ack{false, {}, "", {}},
        M::ImageBegin{"", ImageFormat::jpeg, 1, false},
        M::ImageChunk{"a", 0, {}},
        M::Secret{"", false},
        M::Subscribe{false},
        M::PushImageChunk{"a", 1, sampleBytes(65536)},
    };
    for (const M& message : messages) {
        const auto text = message.encoded();
        ASSERT_TRUE(text.ok());
        const auto back = M::decode(*text);
        ASSERT_TRUE(back.ok()) << *text;
        EXPECT_EQ(back.value(), message) << *text;
    }
}

TEST(RemoteMessageRoundTrip, DatesComeBackAsTheirWholeSecond) {
    const M message = M::PushText{"a", 1, "t", kSentAt + milliseconds{750}};
    const auto back = M::decode(message.encoded().value());
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(back->as<M::PushText>()->sentAt, kSentAt);
}

TEST(RemoteMessageEncode, WritesKeysInWireOrderWithSlashesUnescaped) {
    const std::pair<M, std::string_view> expected[] = {
        {M::Text{"a/b"}, R"({"v":1,"type":"text","payload":"a/b"})"},
        {M::Hotkey{"K", {}}, R"({"v":1,"type":"hotkey","key":"K","mods":[]})"},
        {M::Ack{false, "busy", "a.png", "/tmp"},
         R"({"v":1,"type":"ack","ok":false,"error":"busy","saved":"a.png","savedIn":"/tmp"})"},
        {M::Ack{true, {}, {}, {}}, R"({"v":1,"type":"ack","ok":true})"},
        {M::ImageBegin{"x", ImageFormat::png, 3, false},
         R"({"v":1,"type":"image_begin","id":"x","format":"png","size":3})"},
        {M::ImageBegin{"x", ImageFormat::png, 3, true},
         R"({"v":1,"type":"image_begin","id":"x","format":"png","size":3,"save":true})"},
        {M::ImageChunk{"x", 2, {'f', 'o'}},
         R"({"v":1,"type":"image_chunk","id":"x","index":2,"data":"Zm8="})"},
        {M::Subscribe{false}, R"({"v":1,"type":"subscribe"})"},
        {M::Subscribe{true}, R"({"v":1,"type":"subscribe","accepts":["secret"]})"},
        {M::PushText{"i", 4, "t", kSentAt + milliseconds{400}},
         R"({"v":1,"type":"push_text","id":"i","seq":4,"text":"t","sentAt":"2026-03-01T09:30:05Z"})"},
    };
    for (const auto& [message, text] : expected) {
        EXPECT_EQ(message.encoded().value(), text);
    }
}

TEST(RemoteMessageEncode, EveryFrameIsAnObjectWithVersionAndItsTypeName) {
    std::set<std::string> names;
    for (const M& message : everyCase()) {
        const auto object = boost::json::parse(message.encoded().value()).as_object();
        EXPECT_EQ(object.at("v"), 1);
        EXPECT_EQ(object.at("type").as_string(), message.typeName());
        names.insert(std::string(message.typeName()));
    }
    EXPECT_EQ(names.size(), std::variant_size_v<M::Value>);
}

TEST(RemoteMessageEncode, RefusesTextThatIsNotUtf8) {
    const std::string broken = "caf\xE9";  // Latin-1, not UTF-8
    const M messages[] = {
        M::Text{broken},
        M::Pair{"t", broken},
        M::Ack{false, {}, {}, broken},
        M::PushText{broken, 0, "t", kSentAt},
        M::Hotkey{"\xED\xA0\x80", {}},  // an encoded surrogate
    };
    for (const M& message : messages) {
        EXPECT_FALSE(message.encoded().ok()) << message.typeName();
    }
}

TEST(RemoteMessageEnums, RawValuesMapBothWays) {
    for (ImageFormat format : kAllImageFormats) {
        EXPECT_EQ(imageFormatFromRaw(rawValue(format)), format);
    }
    for (RemoteKey key : kAllRemoteKeys) EXPECT_EQ(remoteKeyFromRaw(rawValue(key)), key);
    for (M::Modifier modifier : M::kAllModifiers) {
        EXPECT_EQ(modifierFromRaw(rawValue(modifier)), modifier);
    }
    EXPECT_EQ(rawValue(RemoteKey::returnKey), "RETURN");
    EXPECT_EQ(remoteKeyFromRaw("return"), std::nullopt);
    EXPECT_EQ(imageFormatFromRaw("jpg"), std::nullopt);
    EXPECT_EQ(modifierFromRaw("Cmd"), std::nullopt);
}

}  // namespace
}  // namespace kestrune
