#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "KestruneRemoteKit/Client/Kit/RemoteClient.hpp"
#include "KestruneRemoteKit/L10n/KitTexts.hpp"
#include "tests/support/Await.hpp"
#include "tests/support/ScriptedServer.hpp"

namespace kestrune {
namespace {

using namespace std::chrono_literals;
using testing::Await;
using testing::Outgoing;
using testing::ScriptedServer;
using Failure = RemoteClient::Failure;
using Frame = ScriptedServer::Frame;

constexpr const char* kSecret = "secret-from-pairing";

RemoteClient::Timing quickTiming() {
    return {2s, 3s, 2s, 60s};
}

// A computer that pairs, authenticates and answers commands the way the real one does, with a few
// trigger texts for refusals.
std::vector<Outgoing> computer(int, const Frame& frame) {
    using testing::ackError;
    using testing::ackOk;
    if (!frame.message) return {ackError("bad_message")};
    const RemoteMessage& message = *frame.message;
    if (const auto* pair = message.as<RemoteMessage::Pair>()) {
        if (pair->token != "123456") return {ackError("token_invalid"), Outgoing::closeWith(1008)};
        return {Outgoing::send(RemoteMessage::Paired{kSecret})};
    }
    if (const auto* hello = message.as<RemoteMessage::Hello>()) {
        if (hello->secret != kSecret)
            return {ackError("unknown_device"), Outgoing::closeWith(1008)};
        return {ackOk()};
    }
    if (const auto* text = message.as<RemoteMessage::Text>()) {
        if (text->payload == "busy") return {ackError("busy")};
        if (text->payload == "removed")
            return {ackError("unknown_device"), Outgoing::closeWith(1008)};
        if (text->payload == "novel") return {ackError("some_future_code")};
        if (text->payload == "silence") return {};
        if (text->payload == "garbage") return {Outgoing::rawText("not json")};
        if (text->payload == "hold") return {Outgoing::holdUntilReleased(), ackOk()};
        return {ackOk()};
    }
    if (const auto* end = message.as<RemoteMessage::ImageEnd>()) {
        (void)end;
        return {Outgoing::send(RemoteMessage::Ack{true, std::nullopt, "IMG_0001.png", "Pictures"})};
    }
    return {ackOk()};
}

template <typename T>
Result<T, Failure> waitFor(const std::function<void(RemoteClient::Completion<T>)>& start) {
    Await<Result<T, Failure>> outcome;
    start(outcome.completion());
    return outcome.get();
}

Result<void, Failure> sendText(RemoteClient& client, const std::string& text) {
    return waitFor<void>([&](auto done) { client.sendText(text, done); });
}

std::vector<RemoteMessage> messagesOf(const std::vector<Frame>& frames) {
    std::vector<RemoteMessage> messages;
    for (const auto& frame : frames) {
        if (frame.message) messages.push_back(*frame.message);
    }
    return messages;
}

TEST(RemoteClientPinning, RefusesAnotherCertificateBeforeSendingAnything) {
    ScriptedServer server(computer);
    const std::string otherPin(64, 'a');
    RemoteClient client("127.0.0.1", server.port(), otherPin, quickTiming());

    auto paired = waitFor<std::string>([&](auto done) { client.pair("123456", "Phone", done); });
    ASSERT_FALSE(paired.ok());
    EXPECT_EQ(paired.error(), Failure::certificateMismatch());
    EXPECT_EQ(server.tcpAccepted(), 1);
    EXPECT_EQ(server.upgraded(), 0);
    EXPECT_TRUE(server.frames().empty());

    // A later request meets the same refusal, not a stale link.
    EXPECT_EQ(sendText(client, "hi").error(), Failure::certificateMismatch());
    EXPECT_TRUE(server.frames().empty());
}

TEST(RemoteClientPinning, AcceptsThePinInAnyLetterCase) {
    ScriptedServer server(computer);
    std::string upper = server.fingerprint();
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return std::toupper(c); });
    RemoteClient client("127.0.0.1", server.port(), upper, quickTiming());

    auto paired = waitFor<std::string>([&](auto done) { client.pair("123456", "Phone", done); });
    ASSERT_TRUE(paired.ok());
    EXPECT_EQ(paired.value(), kSecret);
}

TEST(RemoteClientReachability, HostThatCannotBeDialledFailsWithoutNetwork) {
    ScriptedServer server(computer);
    RemoteClient client("fe80::1", server.port(), server.fingerprint(), quickTiming());
    EXPECT_FALSE(client.hasUrl());
    EXPECT_EQ(sendText(client, "hi").error(),
              Failure::unreachable(std::string(kitTextInvalidQRAddress)));
    auto paired = waitFor<std::string>([&](auto done) { client.pair("123456", "Phone", done); });
    EXPECT_EQ(paired.error(), Failure::unreachable(std::string(kitTextInvalidQRAddress)));
    EXPECT_EQ(server.tcpAccepted(), 0);
}

TEST(RemoteClientReachability, ConnectTimeoutAndRefusedPort) {
    ScriptedServer silent(computer, ScriptedServer::Mode::silentTcp);
    RemoteClient stalled("127.0.0.1", silent.port(), silent.fingerprint(), {2s, 2s, 150ms, 60s});
    EXPECT_EQ(sendText(stalled, "hi").error(),
              Failure::unreachable(std::string(kitTextConnectionTimedOut)));

    std::uint16_t closedPort;
    {
        ScriptedServer gone(computer);
        closedPort = gone.port();
    }
    RemoteClient refused("127.0.0.1", closedPort, silent.fingerprint(), quickTiming());
    const auto failure = sendText(refused, "hi").error();
    EXPECT_EQ(failure.kind, Failure::Kind::unreachable);
    EXPECT_THAT(failure.detail, ::testing::HasSubstr("refused"));
}

TEST(RemoteClientSession, PairsThenAuthenticatesEachNewLinkWithHello) {
    ScriptedServer server(computer);
    RemoteClient client("127.0.0.1", server.port(), server.fingerprint(), quickTiming());

    auto paired = waitFor<std::string>([&](auto done) { client.pair("123456", "My Phone", done); });
    ASSERT_TRUE(paired.ok());
    ASSERT_TRUE(sendText(client, "first").ok());
    ASSERT_TRUE(waitFor<void>([&](auto done) { client.sendKey(RemoteKey::tab, done); }).ok());
    ASSERT_TRUE(waitFor<void>([&](auto done) { client.sendSecret("pw", true, done); }).ok());

    // The pairing link stays authorized: no hello on it.
    EXPECT_THAT(messagesOf(server.framesOf(1)),
                ::testing::ElementsAre(RemoteMessage(RemoteMessage::Pair{"123456", "My Phone"}),
                                       RemoteMessage(RemoteMessage::Text{"first"}),
                                       RemoteMessage(RemoteMessage::Key{"TAB"}),
                                       RemoteMessage(RemoteMessage::Secret{"pw", true})));

    // A refusal that ends the connection drops the link; the next request says hello first.
    EXPECT_EQ(sendText(client, "removed").error(), Failure::rejected("unknown_device"));
    ASSERT_TRUE(sendText(client, "again").ok());
    EXPECT_THAT(messagesOf(server.framesOf(2)),
                ::testing::ElementsAre(RemoteMessage(RemoteMessage::Hello{kSecret}),
                                       RemoteMessage(RemoteMessage::Text{"again"})));
}

TEST(RemoteClientSession, RefusalsKeepOrDropTheLinkByCode) {
    ScriptedServer server(computer);
    RemoteClient client("127.0.0.1", server.port(), server.fingerprint(), quickTiming());
    ASSERT_TRUE(waitFor<void>([&](auto done) { client.hello(kSecret, done); }).ok());

    EXPECT_EQ(sendText(client, "busy").error(), Failure::rejected("busy"));
    ASSERT_TRUE(sendText(client, "after busy").ok());
    EXPECT_EQ(server.upgraded(), 1);  // "busy" keeps the link

    // An unknown code may mean anything: start clean.
    EXPECT_EQ(sendText(client, "novel").error(), Failure::rejected("some_future_code"));
    ASSERT_TRUE(sendText(client, "after novel").ok());
    EXPECT_EQ(server.upgraded(), 2);

    // A reply that makes no sense counts as a lost link.
    EXPECT_EQ(sendText(client, "garbage").error(), Failure::disconnected());
    ASSERT_TRUE(sendText(client, "after garbage").ok());
    EXPECT_EQ(server.upgraded(), 3);
}

TEST(RemoteClientSession, WrongSecretAndWrongTokenAreRejectedWithTheirCodes) {
    ScriptedServer server(computer);
    RemoteClient client("127.0.0.1", server.port(), server.fingerprint(), quickTiming());
    EXPECT_EQ(waitFor<void>([&](auto done) { client.hello("not it", done); }).error(),
              Failure::rejected("unknown_device"));
    auto paired = waitFor<std::string>([&](auto done) { client.pair("000000", "Phone", done); });
    EXPECT_EQ(paired.error(), Failure::rejected("token_invalid"));
}

TEST(RemoteClientSerializing, SecondRequestWaitsForTheFirstReply) {
    ScriptedServer server(computer);
    RemoteClient client("127.0.0.1", server.port(), server.fingerprint(), quickTiming());
    ASSERT_TRUE(waitFor<void>([&](auto done) { client.hello(kSecret, done); }).ok());

    Await<Result<void, Failure>> first;
    Await<Result<void, Failure>> second;
    client.sendText("hold", first.completion());
    client.sendText("next", second.completion());

    ASSERT_TRUE(server.waitUntil([&] { return server.holding(); }));
    // Give an eager client every chance to send the second request early: a fixed wait on
    // purpose, for something that must not happen.
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(server.pendingBytesWhileHeld(), 0u);
    EXPECT_FALSE(second.ready());

    server.release();
    EXPECT_TRUE(first.get().ok());
    EXPECT_TRUE(second.get().ok());
    EXPECT_THAT(messagesOf(server.frames()),
                ::testing::ElementsAre(RemoteMessage(RemoteMessage::Hello{kSecret}),
                                       RemoteMessage(RemoteMessage::Text{"hold"}),
                                       RemoteMessage(RemoteMessage::Text{"next"})));
}

TEST(RemoteClientSerializing, NoReplyTimesOutAndTheNextRequestStartsClean) {
    ScriptedServer server(computer);
    // The reply time-out also bounds the hello and the last request, which must succeed.
    RemoteClient client("127.0.0.1", server.port(), server.fingerprint(), {2s, 2s, 2s, 60s});
    ASSERT_TRUE(waitFor<void>([&](auto done) { client.hello(kSecret, done); }).ok());
    EXPECT_EQ(sendText(client, "silence").error(), Failure::timedOut());
    ASSERT_TRUE(sendText(client, "later").ok());
    EXPECT_EQ(server.upgraded(), 2);
}

TEST(RemoteClientSerializing, CloseFailsTheRunningAndEveryLaterOperation) {
    ScriptedServer server(computer);
    RemoteClient client("127.0.0.1", server.port(), server.fingerprint(), quickTiming());
    ASSERT_TRUE(waitFor<void>([&](auto done) { client.hello(kSecret, done); }).ok());

    Await<Result<void, Failure>> running;
    Await<Result<void, Failure>> queued;
    client.sendText("hold", running.completion());
    client.sendText("queued", queued.completion());
    ASSERT_TRUE(server.waitUntil([&] { return server.holding(); }));
    client.close();
    EXPECT_EQ(running.get().error(), Failure::disconnected());
    EXPECT_EQ(queued.get().error(), Failure::disconnected());
    EXPECT_EQ(sendText(client, "after").error(), Failure::disconnected());
    EXPECT_EQ(waitFor<void>([&](auto done) { client.ensureConnected(done); }).error(),
              Failure::disconnected());
    server.release();
}

TEST(RemoteClientStaleness, IdleLinkIsReopenedWithHello) {
    ScriptedServer server(computer);
    std::atomic<std::int64_t> offsetSeconds{0};
    const auto start = std::chrono::steady_clock::now();
    RemoteClient client("127.0.0.1", server.port(), server.fingerprint(), {2s, 2s, 2s, 30s},
                        [&] { return start + std::chrono::seconds(offsetSeconds.load()); });
    ASSERT_TRUE(waitFor<void>([&](auto done) { client.hello(kSecret, done); }).ok());

    offsetSeconds = 30;  // exactly staleAfter: still trusted
    ASSERT_TRUE(sendText(client, "one").ok());
    EXPECT_EQ(server.upgraded(), 1);

    offsetSeconds = 61;  // 31 s after the last exchange
    ASSERT_TRUE(sendText(client, "two").ok());
    EXPECT_EQ(server.upgraded(), 2);
    EXPECT_THAT(messagesOf(server.framesOf(2)),
                ::testing::ElementsAre(RemoteMessage(RemoteMessage::Hello{kSecret}),
                                       RemoteMessage(RemoteMessage::Text{"two"})));
}

TEST(RemoteClientPictures, SlicesIntoChunksAndReportsWhereItWasSaved) {
    ScriptedServer server(computer);
    RemoteClient client("127.0.0.1", server.port(), server.fingerprint(), quickTiming());
    ASSERT_TRUE(waitFor<void>([&](auto done) { client.hello(kSecret, done); }).ok());

    Bytes picture(65'537);
    for (std::size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<std::uint8_t>(i * 7);
    auto saved = waitFor<std::optional<RemoteClient::SavedImage>>(
        [&](auto done) { client.sendImage(picture, ImageFormat::png, true, done); });
    ASSERT_TRUE(saved.ok());
    ASSERT_TRUE(saved.value().has_value());
    EXPECT_EQ(*saved.value(), (RemoteClient::SavedImage{"IMG_0001.png", "Pictures"}));

    const auto messages = messagesOf(server.frames());
    ASSERT_EQ(messages.size(), 5u);  // hello, begin, two chunks, end
    const auto* begin = messages[1].as<RemoteMessage::ImageBegin>();
    ASSERT_NE(begin, nullptr);
    EXPECT_EQ(begin->size, 65'537);
    EXPECT_EQ(begin->format, ImageFormat::png);
    EXPECT_TRUE(begin->save);
    const auto* chunk0 = messages[2].as<RemoteMessage::ImageChunk>();
    const auto* chunk1 = messages[3].as<RemoteMessage::ImageChunk>();
    ASSERT_TRUE(chunk0 && chunk1);
    EXPECT_EQ(chunk0->index, 0);
    EXPECT_EQ(chunk0->data.size(), 65'536u);
    EXPECT_EQ(chunk1->index, 1);
    EXPECT_EQ(chunk1->data, Bytes{picture.back()});
    EXPECT_EQ(chunk0->id, begin->id);
    EXPECT_EQ(messages[4], RemoteMessage(RemoteMessage::ImageEnd{begin->id}));
    Bytes joined = chunk0->data;
    joined.insert(joined.end(), chunk1->data.begin(), chunk1->data.end());
    EXPECT_EQ(joined, picture);
}

TEST(RemoteClientPictures, ExactMultipleHasNoEmptyTailAndARefusedChunkStopsTheUpload) {
    int chunksSeen = 0;
    ScriptedServer server([&](int connection, const Frame& frame) -> std::vector<Outgoing> {
        if (frame.message && frame.message->is<RemoteMessage::ImageChunk>() && ++chunksSeen == 2) {
            return {testing::ackError("bad_message")};
        }
        return computer(connection, frame);
    });
    RemoteClient client("127.0.0.1", server.port(), server.fingerprint(), quickTiming());
    auto result = waitFor<std::optional<RemoteClient::SavedImage>>(
        [&](auto done) { client.sendImage(Bytes(3 * 65'536, 1), ImageFormat::jpeg, false, done); });
    EXPECT_EQ(result.error(), Failure::rejected("bad_message"));
    const auto messages = messagesOf(server.frames());
    ASSERT_EQ(messages.size(), 3u);  // begin and two chunks; nothing after the refusal
    EXPECT_TRUE(messages[0].is<RemoteMessage::ImageBegin>());
    EXPECT_EQ(messages.back().as<RemoteMessage::ImageChunk>()->index, 1);

    auto whole = waitFor<std::optional<RemoteClient::SavedImage>>(
        [&](auto done) { client.sendImage(Bytes(2 * 65'536, 2), ImageFormat::jpeg, false, done); });
    ASSERT_TRUE(whole.ok());
    const auto after = messagesOf(server.frames());
    // begin, chunk 0, chunk 1 of 65,536 bytes each, end: no empty third chunk.
    ASSERT_EQ(after.size(), 7u);
    EXPECT_EQ(after[5].as<RemoteMessage::ImageChunk>()->data.size(), 65'536u);
    EXPECT_TRUE(after[6].is<RemoteMessage::ImageEnd>());
}

}  // namespace
}  // namespace kestrune
