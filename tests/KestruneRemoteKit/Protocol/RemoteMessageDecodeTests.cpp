#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "KestruneRemoteKit/Protocol/RemoteMessage.hpp"
#include "tests/support/MessagePrinting.hpp"

namespace kestrune {
namespace {

using M = RemoteMessage;
using F = M::DecodingFailure;

struct FailureCase {
    std::string frame;
    F expected;
};

void expectFailures(const std::vector<FailureCase>& cases) {
    for (const auto& [frame, expected] : cases) {
        const auto result = M::decode(frame);
        ASSERT_FALSE(result.ok()) << "decoded: " << frame;
        EXPECT_EQ(result.error(), expected)
            << frame << "\n  got kind " << static_cast<int>(result.error().kind) << " detail '"
            << result.error().detail << "'";
    }
}

M decoded(const std::string& frame) {
    auto result = M::decode(frame);
    EXPECT_TRUE(result.ok()) << frame << " failed with detail '"
                             << (result.ok() ? "" : result.error().detail) << "'";
    return result.ok() ? std::move(result).value() : M(M::Text{"<failed>"});
}

// Frames of one type: `fields` is spliced after "v" and "type".
std::string frame(std::string_view type, std::string_view fields = "") {
    std::string text = R"({"v":1,"type":")" + std::string(type) + "\"";
    if (!fields.empty()) text += "," + std::string(fields);
    return text + "}";
}

TEST(RemoteMessageDecode, RefusesTextThatIsNotOneJsonObject) {
    expectFailures({
        {"", F::malformed()},
        {"not json", F::malformed()},
        {R"([{"v":1,"type":"text","payload":"x"}])", F::malformed()},
        {R"("text")", F::malformed()},
        {"1", F::malformed()},
        {"null", F::malformed()},
        {R"({"v":1,"type":"text","payload":"x"} {})", F::malformed()},
        {R"({"v":1,"type":"text","payload":"x")", F::malformed()},
        {"{\"v\":1,\"type\":\"text\",\"payload\":\"\xC3\x28\"}", F::malformed()},
        {R"({"v":1,"type":"text","payload":"\ud800"})", F::malformed()},
    });
}

TEST(RemoteMessageDecode, VersionMustBeTheStrictInteger1) {
    expectFailures({
        {R"({"type":"text","payload":"x"})", F::unsupportedVersion(std::nullopt)},
        {R"({"v":"1","type":"text","payload":"x"})", F::unsupportedVersion(std::nullopt)},
        {R"({"v":true,"type":"text","payload":"x"})", F::unsupportedVersion(std::nullopt)},
        {R"({"v":null,"type":"text","payload":"x"})", F::unsupportedVersion(std::nullopt)},
        {R"({"v":[1],"type":"text","payload":"x"})", F::unsupportedVersion(std::nullopt)},
        {R"({"v":1.5,"type":"text","payload":"x"})", F::unsupportedVersion(std::nullopt)},
        {R"({"v":9223372036854775808,"type":"text"})", F::unsupportedVersion(std::nullopt)},
        {R"({"v":1e19,"type":"text"})", F::unsupportedVersion(std::nullopt)},
        {R"({"v":2,"type":"text","payload":"x"})", F::unsupportedVersion(2)},
        {R"({"v":2.0,"type":"text","payload":"x"})", F::unsupportedVersion(2)},
        {R"({"v":0,"type":"text","payload":"x"})", F::unsupportedVersion(0)},
        {R"({"v":-1,"type":"text","payload":"x"})", F::unsupportedVersion(-1)},
        // The version is judged before the type.
        {R"({"v":2})", F::unsupportedVersion(2)},
        {R"({"v":2,"type":"nonsense"})", F::unsupportedVersion(2)},
    });
    EXPECT_EQ(decoded(R"({"v":1.0,"type":"text","payload":"x"})"), M(M::Text{"x"}));
    EXPECT_EQ(decoded(R"({"v":10e-1,"type":"text","payload":"x"})"), M(M::Text{"x"}));
}

TEST(RemoteMessageDecode, TypeMustBeAKnownString) {
    expectFailures({
        {R"({"v":1})", F::missingField("type")},
        {R"({"v":1,"type":5})", F::missingField("type")},
        {R"({"v":1,"type":null})", F::missingField("type")},
        {R"({"v":1,"type":["text"]})", F::missingField("type")},
        {frame("Text"), F::unknownType("Text")},
        {frame("imageBegin"), F::unknownType("imageBegin")},
        {frame("image-begin"), F::unknownType("image-begin")},
        {frame(""), F::unknownType("")},
        {frame("text "), F::unknownType("text ")},
    });
}

TEST(RemoteMessageDecode, StringFieldsAreRequiredStrings) {
    expectFailures({
        {frame("text"), F::missingField("payload")},
        {frame("text", R"("payload":5)"), F::missingField("payload")},
        {frame("text", R"("payload":null)"), F::missingField("payload")},
        {frame("key"), F::missingField("payload")},
        {frame("pair"), F::missingField("token")},
        {frame("pair", R"("name":"x")"), F::missingField("token")},
        {frame("pair", R"("token":"t")"), F::missingField("name")},
        {frame("paired"), F::missingField("secret")},
        {frame("hello", R"("secret":true)"), F::missingField("secret")},
        {frame("image_end"), F::missingField("id")},
        {frame("push_image_end", R"("id":1)"), F::missingField("id")},
        {frame("push_ack"), F::missingField("id")},
    });
}

TEST(RemoteMessageDecode, HotkeyModifiers) {
    expectFailures({
        {frame("hotkey", R"("mods":"nonsense")"), F::missingField("key")},
        {frame("hotkey", R"("key":"K")"), F::missingField("mods")},
        {frame("hotkey", R"("key":"K","mods":"cmd")"), F::missingField("mods")},
        {frame("hotkey", R"("key":"K","mods":null)"), F::missingField("mods")},
        {frame("hotkey", R"("key":"K","mods":["cmd","hyper","alt"])"), F::unknownModifier("hyper")},
        {frame("hotkey", R"("key":"K","mods":["CMD"])"), F::unknownModifier("CMD")},
        {frame("hotkey", R"("key":"K","mods":[5])"), F::unknownModifier("5")},
        {frame("hotkey", R"("key":"K","mods":[1.0])"), F::unknownModifier("1")},
        {frame("hotkey", R"("key":"K","mods":[-2.5])"), F::unknownModifier("-2.5")},
        {frame("hotkey", R"("key":"K","mods":[true])"), F::unknownModifier("true")},
        {frame("hotkey", R"("key":"K","mods":[null])"), F::unknownModifier("null")},
        {frame("hotkey", R"("key":"K","mods":[["cmd"]])"), F::unknownModifier(R"(["cmd"])")},
        {frame("hotkey", R"("key":"K","mods":[{"a":"/"}])"), F::unknownModifier(R"({"a":"/"})")},
    });
    EXPECT_EQ(decoded(frame("hotkey", R"("key":"K","mods":[])")), M(M::Hotkey{"K", {}}));
    using Mod = M::Modifier;
    EXPECT_EQ(
        decoded(frame("hotkey", R"("mods":["control","cmd","shift","option","cmd"],"key":"")")),
        M(M::Hotkey{"", {Mod::control, Mod::cmd, Mod::shift, Mod::option, Mod::cmd}}));
}

TEST(RemoteMessageDecode, AckReadsOkLenientlyAndTheRestInOrder) {
    expectFailures({
        {frame("ack"), F::missingField("ok")},
        {frame("ack", R"("ok":"true")"), F::missingField("ok")},
        {frame("ack", R"("ok":2)"), F::missingField("ok")},
        {frame("ack", R"("ok":0.5)"), F::missingField("ok")},
        {frame("ack", R"("ok":null)"), F::missingField("ok")},
        {frame("ack", R"("saved":5)"), F::missingField("ok")},
        {frame("ack", R"("ok":true,"saved":5)"), F::invalidField("saved")},
        {frame("ack", R"("ok":true,"saved":null)"), F::invalidField("saved")},
        {frame("ack", R"("ok":true,"savedIn":5,"saved":5)"), F::invalidField("saved")},
        {frame("ack", R"("ok":true,"savedIn":["Downloads"])"), F::invalidField("savedIn")},
    });
    EXPECT_EQ(decoded(frame("ack", R"("ok":1)")), M(M::Ack{true, {}, {}, {}}));
    EXPECT_EQ(decoded(frame("ack", R"("ok":0)")), M(M::Ack{false, {}, {}, {}}));
    EXPECT_EQ(decoded(frame("ack", R"("ok":1.0)")), M(M::Ack{true, {}, {}, {}}));
    EXPECT_EQ(decoded(frame("ack", R"("ok":false,"error":5)")), M(M::Ack{false, {}, {}, {}}));
    EXPECT_EQ(decoded(frame("ack", R"("ok":false,"error":null)")), M(M::Ack{false, {}, {}, {}}));
    EXPECT_EQ(
        decoded(frame("ack", R"("savedIn":"Pictures","error":"busy","ok":true,"saved":"a.png")")),
        M(M::Ack{true, "busy", "a.png", "Pictures"}));
}

TEST(RemoteMessageDecode, ImageBeginChecksFormatSizeSaveThenId) {
    expectFailures({
        {frame("image_begin"), F::missingField("format")},
        {frame("image_begin", R"("format":5,"size":0)"), F::missingField("format")},
        {frame("image_begin", R"("format":"gif","size":0)"), F::invalidField("format")},
        {frame("image_begin", R"("format":"JPEG")"), F::invalidField("format")},
        {frame("image_begin", R"("format":"png")"), F::invalidField("size")},
        {frame("image_begin", R"("format":"png","size":0,"save":1)"), F::invalidField("size")},
        {frame("image_begin", R"("format":"png","size":-5)"), F::invalidField("size")},
        {frame("image_begin", R"("format":"png","size":1.5)"), F::invalidField("size")},
        {frame("image_begin", R"("format":"png","size":"10")"), F::invalidField("size")},
        {frame("image_begin", R"("format":"png","size":true)"), F::invalidField("size")},
        {frame("image_begin", R"("format":"png","size":1,"save":1)"), F::invalidField("save")},
        {frame("image_begin", R"("format":"png","size":1,"save":"true")"), F::invalidField("save")},
        {frame("image_begin", R"("format":"png","size":1,"save":null)"), F::invalidField("save")},
        {frame("image_begin", R"("format":"png","size":1)"), F::missingField("id")},
    });
    EXPECT_EQ(decoded(frame("image_begin", R"("id":"a","format":"heic","size":1)")),
              M(M::ImageBegin{"a", ImageFormat::heic, 1, false}));
    EXPECT_EQ(decoded(frame("image_begin", R"("id":"a","format":"jpeg","size":3e1,"save":true)")),
              M(M::ImageBegin{"a", ImageFormat::jpeg, 30, true}));
}

TEST(RemoteMessageDecode, ChunksCheckIndexDataThenId) {
    for (std::string_view type : {"image_chunk", "push_image_chunk"}) {
        expectFailures({
            {frame(type), F::invalidField("index")},
            {frame(type, R"("index":-1,"data":"Zm9v","id":"a")"), F::invalidField("index")},
            {frame(type, R"("index":false,"data":"Zm9v","id":"a")"), F::invalidField("index")},
            {frame(type, R"("index":0)"), F::missingField("data")},
            {frame(type, R"("index":0,"data":["Zm9v"])"), F::missingField("data")},
            {frame(type, R"("index":0,"data":"Zm9v\n","id":"a")"), F::invalidField("data")},
            {frame(type, R"("index":0,"data":"Zm 9v","id":"a")"), F::invalidField("data")},
            {frame(type, R"("index":0,"data":"Zm9","id":"a")"), F::invalidField("data")},
            {frame(type, R"("index":0,"data":"Zm9v")"), F::missingField("id")},
        });
    }
    EXPECT_EQ(decoded(frame("image_chunk", R"("id":"a","index":0,"data":"")")),
              M(M::ImageChunk{"a", 0, {}}));
    // An escaped character is still the character it stands for.
    EXPECT_EQ(decoded(frame("push_image_chunk", R"("id":"a","index":7,"data":"Zm9\u0076")")),
              M(M::PushImageChunk{"a", 7, {'f', 'o', 'o'}}));
}

TEST(RemoteMessageDecode, SecretNeedsAStrictEnterBeforeThePayload) {
    expectFailures({
        {frame("secret"), F::invalidField("enter")},
        {frame("secret", R"("payload":"pw")"), F::invalidField("enter")},
        {frame("secret", R"("payload":"pw","enter":1)"), F::invalidField("enter")},
        {frame("secret", R"("payload":"pw","enter":"false")"), F::invalidField("enter")},
        {frame("secret", R"("enter":true)"), F::missingField("payload")},
    });
    EXPECT_EQ(decoded(frame("secret", R"("enter":false,"payload":"pw")")),
              M(M::Secret{"pw", false}));
}

TEST(RemoteMessageDecode, SubscribeAcceptsIsAnOptionalListOfStrings) {
    expectFailures({
        {frame("subscribe", R"("accepts":"secret")"), F::invalidField("accepts")},
        {frame("subscribe", R"("accepts":null)"), F::invalidField("accepts")},
        {frame("subscribe", R"("accepts":["secret",5])"), F::invalidField("accepts")},
        {frame("subscribe", R"("accepts":{"secret":true})"), F::invalidField("accepts")},
    });
    EXPECT_EQ(decoded(frame("subscribe")), M(M::Subscribe{false}));
    EXPECT_EQ(decoded(frame("subscribe", R"("accepts":[])")), M(M::Subscribe{false}));
    EXPECT_EQ(decoded(frame("subscribe", R"("accepts":["text"])")), M(M::Subscribe{false}));
    EXPECT_EQ(decoded(frame("subscribe", R"("accepts":["Secret"])")), M(M::Subscribe{false}));
    EXPECT_EQ(decoded(frame("subscribe", R"("accepts":["text","secret"])")), M(M::Subscribe{true}));
}

TEST(RemoteMessageDecode, CountersAreNonNegativeStrictIntegers) {
    for (std::string_view type : {"heartbeat", "heartbeat_ack"}) {
        expectFailures({
            {frame(type), F::invalidField("n")},
            {frame(type, R"("n":-1)"), F::invalidField("n")},
            {frame(type, R"("n":"1")"), F::invalidField("n")},
            {frame(type, R"("n":true)"), F::invalidField("n")},
            {frame(type, R"("n":0.5)"), F::invalidField("n")},
            {frame(type, R"("n":18446744073709551615)"), F::invalidField("n")},
        });
    }
    EXPECT_EQ(decoded(frame("heartbeat", R"("n":9223372036854775807)")),
              M(M::Heartbeat{9223372036854775807}));
    EXPECT_EQ(decoded(frame("heartbeat_ack", R"("n":0)")), M(M::HeartbeatAck{0}));
}

TEST(RemoteMessageDecode, PushesReadIdSeqContentThenDate) {
    expectFailures({
        {frame("push_text", R"("seq":-1)"), F::missingField("id")},
        {frame("push_text", R"("id":"a","seq":-1)"), F::invalidField("seq")},
        {frame("push_text", R"("id":"a","text":"t","sentAt":"2026-03-01T09:30:05Z")"),
         F::invalidField("seq")},
        {frame("push_text", R"("id":"a","seq":0,"sentAt":"x")"), F::missingField("text")},
        {frame("push_text", R"("id":"a","seq":0,"text":"t")"), F::invalidField("sentAt")},
        {frame("push_text", R"("id":"a","seq":0,"text":"t","sentAt":0)"),
         F::invalidField("sentAt")},
        {frame("push_text", R"("id":"a","seq":0,"text":"t","sentAt":"2026-03-01")"),
         F::invalidField("sentAt")},
        {frame("push_secret", R"("id":"a","seq":0,"sentAt":"x")"), F::missingField("payload")},
        {frame("push_secret", R"("id":"a","seq":0,"payload":"p","sentAt":"")"),
         F::invalidField("sentAt")},
        {frame("push_image_begin", R"("id":"a","size":0)"), F::missingField("format")},
        {frame("push_image_begin", R"("format":"png","size":0)"), F::invalidField("size")},
        {frame("push_image_begin", R"("format":"png","size":1,"seq":-1)"), F::missingField("id")},
        {frame("push_image_begin", R"("format":"png","size":1,"id":"a","seq":-1)"),
         F::invalidField("seq")},
        {frame("push_image_begin", R"("format":"png","size":1,"id":"a","seq":0)"),
         F::invalidField("sentAt")},
    });
    using namespace std::chrono;
    const Date sentAt = sys_days{year{2026} / 3 / 1} + hours{9} + minutes{30} + seconds{5};
    EXPECT_EQ(decoded(frame("push_text",
                            R"("sentAt":"2026-03-01T10:30:05+01:00","text":"t","seq":3,"id":"a")")),
              M(M::PushText{"a", 3, "t", sentAt}));
}

TEST(RemoteMessageDecode, IgnoresUnknownKeysAndKeyOrderAndTakesARepeatedKeysLastValue) {
    EXPECT_EQ(decoded(R"({"v":2,"v":1,"type":"text","payload":5,"payload":"b"})"), M(M::Text{"b"}));
    EXPECT_EQ(decoded(R"({"payload":"","type":"text","v":1})"), M(M::Text{""}));
    EXPECT_EQ(
        decoded(R"({"v":1,"extra":{"deep":[1,{"x":null}]},"type":"key","payload":"TAB","n":-1})"),
        M(M::Key{"TAB"}));
    EXPECT_EQ(decoded(R"(  {"v":1,"type":"text","payload":"a\/b\u00e9\n\"\u0000"} )"),
              M(M::Text{std::string("a/b\xC3\xA9\n\"\0", 8)}));
}

}  // namespace
}  // namespace kestrune
