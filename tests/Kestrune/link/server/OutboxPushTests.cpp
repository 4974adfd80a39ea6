#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Kestrune/link/server/OutboxPush.hpp"
#include "KestruneRemoteKit/Protocol/WireLimits.hpp"

namespace kestrune {
namespace {

using M = RemoteMessage;
const Date kCreated = Date(std::chrono::seconds(1'780'000'000));

OutboxItem item(std::int64_t seq) {
    OutboxItem item;
    item.id = "5A0C8B7E-1D2F-4A3B-9C4D-5E6F7A8B9C0D";
    item.seq = seq;
    item.createdAt = kCreated;
    return item;
}

OutboxPush::ReadPicture noFiles(std::vector<std::string>& asked) {
    return [&asked](std::string_view name) -> std::optional<std::string> {
        asked.emplace_back(name);
        return std::nullopt;
    };
}

TEST(OutboxPush, TextsAndPasswordsAreOneMessageAndRefusedPasswordsAreNone) {
    std::vector<std::string> asked;
    auto text = item(3);
    text.text = "hello";
    EXPECT_EQ(OutboxPush::plan(text, false, noFiles(asked)).messages,
              (std::vector<RemoteMessage>{M::PushText{text.id, 3, "hello", kCreated}}));

    auto password = item(4);
    password.secret = "hunter2";
    const auto kept = OutboxPush::plan(password, true, noFiles(asked));
    EXPECT_EQ(kept.messages,
              (std::vector<RemoteMessage>{M::PushSecret{password.id, 4, "hunter2", kCreated}}));
    EXPECT_FALSE(kept.refusedSecret);
    const auto refused = OutboxPush::plan(password, false, noFiles(asked));
    EXPECT_TRUE(refused.messages.empty());
    EXPECT_TRUE(refused.refusedSecret);
    EXPECT_TRUE(asked.empty()) << "only pictures read files";
}

TEST(OutboxPush, APictureIsItsBeginChunksInOrderAndEnd) {
    auto picture = item(7);
    picture.imageFormat = "png";
    picture.imageFile = picture.id + ".png";
    std::string bytes(2 * kImageChunkBytes + 1, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = char(i * 31 % 251);
    std::vector<std::string> asked;
    const auto push = OutboxPush::plan(picture, false, [&](std::string_view name) {
        asked.emplace_back(name);
        return std::optional(bytes);
    });
    EXPECT_EQ(asked, std::vector<std::string>{picture.id + ".png"});
    ASSERT_EQ(push.messages.size(), 5u);
    EXPECT_EQ(push.messages.front(),
              RemoteMessage(M::PushImageBegin{picture.id, ImageFormat::png,
                                              std::int64_t(bytes.size()), 7, kCreated}));
    std::string reassembled;
    for (std::int64_t index = 0; index < 3; ++index) {
        const auto* chunk = push.messages[1 + index].as<M::PushImageChunk>();
        ASSERT_NE(chunk, nullptr);
        EXPECT_EQ(chunk->index, index);
        EXPECT_LE(chunk->data.size(), kImageChunkBytes);
        reassembled.append(chunk->data.begin(), chunk->data.end());
    }
    EXPECT_EQ(reassembled, bytes);
    EXPECT_EQ(push.messages.back(), RemoteMessage(M::PushImageEnd{picture.id}));
}

TEST(OutboxPush, APictureThatCannotBeReadOrNamedWaitsWithoutMessages) {
    auto picture = item(8);
    picture.imageFormat = "png";
    picture.imageFile = picture.id + ".png";
    std::vector<std::string> asked;
    for (const auto& read : std::vector<OutboxPush::ReadPicture>{
             noFiles(asked), [](std::string_view) { return std::optional<std::string>(""); }}) {
        const auto push = OutboxPush::plan(picture, true, read);
        EXPECT_TRUE(push.messages.empty());
        EXPECT_FALSE(push.refusedSecret);
    }
    picture.imageFormat = "bmp";
    asked.clear();
    EXPECT_TRUE(OutboxPush::plan(picture, true, noFiles(asked)).messages.empty());
    EXPECT_TRUE(asked.empty()) << "an unknown format is not read at all";
}

}  // namespace
}  // namespace kestrune
