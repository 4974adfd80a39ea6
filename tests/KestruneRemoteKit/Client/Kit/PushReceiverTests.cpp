#include <gtest/gtest.h>

#include "KestruneRemoteKit/Client/Kit/ComputerPush.hpp"

namespace kestrune {
namespace {

const Date kSentAt = std::chrono::system_clock::time_point(std::chrono::seconds(1'772'357'405));

struct Picture {
    PushReceiver receiver;

    PushReceiver::Step begin(std::int64_t size, std::string id = "p") {
        return receiver.receive(
            RemoteMessage::PushImageBegin{std::move(id), ImageFormat::jpeg, size, 7, kSentAt});
    }
    PushReceiver::Step chunk(std::int64_t index, std::size_t bytes, std::string id = "p") {
        return receiver.receive(
            RemoteMessage::PushImageChunk{std::move(id), index, Bytes(bytes, 0x5A)});
    }
    PushReceiver::Step end(std::string id = "p") {
        return receiver.receive(RemoteMessage::PushImageEnd{std::move(id)});
    }
};

bool delivered(const PushReceiver::Step& step) {
    return std::holds_alternative<ComputerPush>(step);
}

TEST(PushReceiverPictures, CompletePictureIsDeliveredWithItsAnnouncement) {
    Picture picture;
    picture.begin(5);
    picture.chunk(0, 3);
    picture.chunk(1, 0);  // empty chunks only advance the index
    picture.chunk(2, 2);
    const auto step = picture.end();
    ASSERT_TRUE(delivered(step));
    EXPECT_EQ(
        std::get<ComputerPush>(step),
        (ComputerPush{"p", 7, kSentAt, ComputerPush::Image{Bytes(5, 0x5A), ImageFormat::jpeg}}));
    EXPECT_FALSE(picture.receiver.assembly().has_value());
}

TEST(PushReceiverPictures, BrokenChunkRulesDropThePicture) {
    {  // indexes 0, 1, 1
        Picture picture;
        picture.begin(6);
        picture.chunk(0, 2);
        picture.chunk(1, 2);
        ASSERT_TRUE(picture.receiver.assembly().has_value());
        picture.chunk(1, 2);
        EXPECT_FALSE(picture.receiver.assembly().has_value());
        EXPECT_FALSE(delivered(picture.end()));
    }
    {  // a final chunk that overshoots the announced size
        Picture picture;
        picture.begin(4);
        picture.chunk(0, 3);
        picture.chunk(1, 2);
        EXPECT_FALSE(delivered(picture.end()));
    }
    {  // fewer bytes than announced: nothing to acknowledge
        Picture picture;
        picture.begin(4);
        picture.chunk(0, 3);
        EXPECT_FALSE(delivered(picture.end()));
        EXPECT_FALSE(picture.receiver.assembly().has_value());
    }
    {  // a chunk or an end of another picture
        Picture picture;
        picture.begin(4);
        picture.chunk(0, 2, "other");
        EXPECT_FALSE(picture.receiver.assembly().has_value());
        picture.begin(4);
        picture.chunk(0, 4);
        EXPECT_FALSE(delivered(picture.end("other")));
        EXPECT_FALSE(delivered(picture.end()));  // the first end took the assembly away
    }
    {  // a chunk with no picture announced
        Picture picture;
        picture.chunk(0, 1);
        EXPECT_FALSE(picture.receiver.assembly().has_value());
    }
}

TEST(PushReceiverPictures, SizeLimitAndReplacement) {
    Picture picture;
    picture.begin(kMaxImageBytes);
    EXPECT_TRUE(picture.receiver.assembly().has_value());
    picture.begin(kMaxImageBytes + 1);
    EXPECT_FALSE(picture.receiver.assembly().has_value());

    // A new announcement replaces a picture half received.
    picture.begin(4, "first");
    picture.chunk(0, 2, "first");
    picture.begin(2, "second");
    picture.chunk(0, 2, "second");
    const auto step = picture.end("second");
    ASSERT_TRUE(delivered(step));
    EXPECT_EQ(std::get<ComputerPush>(step).id, "second");
}

TEST(PushReceiverMessages, TextsSecretsAndAcknowledgements) {
    PushReceiver receiver;
    auto text = receiver.receive(RemoteMessage::PushText{"t", 1, "hi", kSentAt});
    ASSERT_TRUE(delivered(text));
    EXPECT_EQ(std::get<ComputerPush>(text).content,
              ComputerPush::Content(ComputerPush::Text{"hi"}));
    auto secret = receiver.receive(RemoteMessage::PushSecret{"s", 2, "pw", kSentAt});
    ASSERT_TRUE(delivered(secret));
    EXPECT_EQ(std::get<ComputerPush>(secret).content,
              ComputerPush::Content(ComputerPush::Secret{"pw"}));

    using Nothing = PushReceiver::Nothing;
    EXPECT_TRUE(std::holds_alternative<Nothing>(receiver.receive(RemoteMessage::HeartbeatAck{3})));
    EXPECT_TRUE(std::holds_alternative<Nothing>(
        receiver.receive(RemoteMessage::Ack{true, std::nullopt, std::nullopt, std::nullopt})));
    EXPECT_TRUE(std::holds_alternative<Nothing>(
        receiver.receive(RemoteMessage::Ack{false, std::nullopt, std::nullopt, std::nullopt})));
    const auto refusal =
        receiver.receive(RemoteMessage::Ack{false, "unknown_device", std::nullopt, std::nullopt});
    ASSERT_TRUE(std::holds_alternative<PushReceiver::Rejected>(refusal));
    EXPECT_EQ(std::get<PushReceiver::Rejected>(refusal).error, "unknown_device");
}

}  // namespace
}  // namespace kestrune
