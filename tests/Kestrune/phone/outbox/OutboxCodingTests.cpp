#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/json.hpp>

#include "Kestrune/phone/outbox/OutboxCoding.hpp"
#include "tests/support/OutboxTestSupport.hpp"

namespace kestrune::testing {
namespace {

namespace json = boost::json;
constexpr const char* kId = "0F0E0D0C-0B0A-4908-8706-050403020100";

Outbox::Item textItem() {
    Outbox::Item item;
    item.id = kId;
    item.seq = 42;
    item.createdAt = Date(std::chrono::milliseconds(1'700'000'000'250));
    item.text = "héllo \"quoted\"\n";
    item.pendingDevices = {kPhoneA, kPhoneB};
    return item;
}

json::object fields(const Outbox::Item& item) {
    return json::parse(encodeOutboxItem(item)).as_object();
}

std::optional<Outbox::Item> decodeChanged(const std::function<void(json::object&)>& change) {
    auto object = fields(textItem());
    change(object);
    return decodeOutboxItem(json::serialize(object));
}

TEST(OutboxCoding, ItemKeysAndValuesAreTheStoredForm) {
    const auto object = fields(textItem());
    EXPECT_EQ(object.at("id"), kId);
    EXPECT_EQ(object.at("seq"), 42);
    ASSERT_TRUE(object.at("createdAt").is_double());
    EXPECT_DOUBLE_EQ(object.at("createdAt").as_double(), 1'700'000'000.25);
    EXPECT_EQ(object.at("text"), "héllo \"quoted\"\n");
    EXPECT_EQ(object.at("pendingDevices"), json::array({"11111111-1111-4111-8111-111111111111",
                                                        "22222222-2222-4222-8222-222222222222"}));
    EXPECT_FALSE(object.contains("imageFormat"));
    EXPECT_FALSE(object.contains("imageFile"));
    EXPECT_FALSE(object.contains("secret"));

    EXPECT_EQ(decodeOutboxItem(encodeOutboxItem(textItem())), textItem());

    auto picture = textItem();
    picture.text.reset();
    picture.imageFormat = "heic";
    picture.imageFile = outboxImageFileName(kId, ImageFormat::heic);
    EXPECT_EQ(*picture.imageFile, std::string(kId) + ".heic");
    EXPECT_EQ(decodeOutboxItem(encodeOutboxItem(picture)), picture);
}

TEST(OutboxCoding, ItemDecodingAcceptsWhatOtherWritersMayProduce) {
    // Whole-second times as integers, lower-case phone ids, repeated phones, unknown keys.
    const auto decoded = decodeChanged([](json::object& object) {
        object["createdAt"] = 1'700'000'000;
        object["pendingDevices"] = json::array(
            {"11111111-1111-4111-8111-111111111111", "11111111-1111-4111-8111-111111111111"});
        object["future"] = true;
    });
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->createdAt, Date(std::chrono::seconds(1'700'000'000)));
    EXPECT_THAT(decoded->pendingDevices, ::testing::ElementsAre(kPhoneA));
}

TEST(OutboxCoding, ItemDecodingRefusesAnythingTheOutboxWouldNotWrite) {
    const std::vector<std::pair<const char*, std::function<void(json::object&)>>> cases = {
        {"lower-case id", [](auto& o) { o["id"] = "0f0e0d0c-0b0a-4908-8706-050403020100"; }},
        {"id with a path", [](auto& o) { o["id"] = "../0F0E0D0C-0B0A-4908-8706-050403020100"; }},
        {"missing id", [](auto& o) { o.erase("id"); }},
        {"seq zero", [](auto& o) { o["seq"] = 0; }},
        {"negative seq", [](auto& o) { o["seq"] = -3; }},
        {"fractional seq", [](auto& o) { o["seq"] = 4.5; }},
        {"seq beyond 64 bits", [](auto& o) { o["seq"] = 18'446'744'073'709'551'615ull; }},
        {"text seq", [](auto& o) { o["seq"] = "42"; }},
        {"missing time", [](auto& o) { o.erase("createdAt"); }},
        {"time out of range", [](auto& o) { o["createdAt"] = 1e300; }},
        {"text time", [](auto& o) { o["createdAt"] = "2026-01-01"; }},
        {"text not a string", [](auto& o) { o["text"] = 7; }},
        {"neither text nor picture", [](auto& o) { o.erase("text"); }},
        {"text and picture",
         [](auto& o) {
             o["imageFormat"] = "png";
             o["imageFile"] = std::string(kId) + ".png";
         }},
        {"unknown format",
         [](auto& o) {
             o.erase("text");
             o["imageFormat"] = "gif";
             o["imageFile"] = std::string(kId) + ".gif";
         }},
        {"picture name not its own",
         [](auto& o) {
             o.erase("text");
             o["imageFormat"] = "png";
             o["imageFile"] = "/etc/passwd";
         }},
        {"format without file",
         [](auto& o) {
             o.erase("text");
             o["imageFormat"] = "png";
         }},
        {"no phones", [](auto& o) { o["pendingDevices"] = json::array(); }},
        {"phone not a UUID", [](auto& o) { o["pendingDevices"] = json::array({"phone"}); }},
        {"phones not a list",
         [](auto& o) { o["pendingDevices"] = "11111111-1111-4111-8111-111111111111"; }},
    };
    for (const auto& [name, change] : cases) {
        EXPECT_FALSE(decodeChanged(change).has_value()) << name;
    }
    for (const char* text :
         {"", "[]", "null", "{", "{\"id\":", "[[[[[[[[[[[[[[[[[[[[]]]]]]]]]]]]]]]]]]]]"}) {
        EXPECT_FALSE(decodeOutboxItem(text).has_value()) << text;
    }
}

TEST(OutboxCoding, StateHoldsOnlyTheLastSequenceNumber) {
    EXPECT_EQ(json::parse(encodeOutboxState(17)), json::parse(R"({"lastSeq":17})"));
    EXPECT_EQ(decodeOutboxState(encodeOutboxState(0)), 0);
    EXPECT_EQ(decodeOutboxState(R"({"lastSeq": 9, "other": 1})"), 9);
    for (const char* text : {R"({"lastSeq": -1})", R"({"lastSeq": 1.5})", R"({"lastSeq": "9"})",
                             R"({})", R"([9])", "9", ""}) {
        EXPECT_FALSE(decodeOutboxState(text).has_value()) << text;
    }
}

}  // namespace
}  // namespace kestrune::testing
