#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

#include "KestruneRemoteKit/Client/Kit/SubscriptionClient.hpp"
#include "tests/support/Await.hpp"
#include "tests/support/ScriptedServer.hpp"

namespace kestrune {
namespace {

using namespace std::chrono_literals;
using testing::ackError;
using testing::ackOk;
using testing::Await;
using testing::Outgoing;
using testing::ScriptedServer;
using End = SubscriptionClient::End;
using Frame = ScriptedServer::Frame;

constexpr const char* kSecret = "subscription-secret";
const Date kSentAt = std::chrono::system_clock::time_point(std::chrono::seconds(1'772'357'405));

// Records what the phone was handed; refuses items whose text is "refuse".
struct Phone {
    std::mutex lock;
    std::vector<ComputerPush> delivered;
    std::atomic<int> connected{0};

    SubscriptionClient::Deliver deliver() {
        return [this](const ComputerPush& push) {
            std::lock_guard guard(lock);
            delivered.push_back(push);
            const auto* text = push.content.as<ComputerPush::Text>();
            return !(text && text->text == "refuse");
        };
    }
    std::vector<ComputerPush> items() {
        std::lock_guard guard(lock);
        return delivered;
    }
};

// Accepts hello and subscribe, answers heartbeats, and pushes `pushes` after the subscription.
ScriptedServer::Script computer(std::vector<Outgoing> pushes, bool answerHeartbeats = true) {
    return [pushes, answerHeartbeats](int, const Frame& frame) -> std::vector<Outgoing> {
        if (!frame.message) return {};
        if (const auto* hello = frame.message->as<RemoteMessage::Hello>()) {
            if (hello->secret != kSecret)
                return {ackError("unknown_device"), Outgoing::closeWith(1008)};
            return {ackOk()};
        }
        if (frame.message->is<RemoteMessage::Subscribe>()) {
            std::vector<Outgoing> replies{ackOk()};
            replies.insert(replies.end(), pushes.begin(), pushes.end());
            return replies;
        }
        if (const auto* beat = frame.message->as<RemoteMessage::Heartbeat>()) {
            if (answerHeartbeats) return {Outgoing::send(RemoteMessage::HeartbeatAck{beat->n})};
        }
        return {};
    };
}

SubscriptionClient::Timing timing(Duration heartbeat = 5s, Duration deadline = 10s) {
    return {heartbeat, deadline, 2s};
}

std::vector<RemoteMessage> messagesOf(const std::vector<Frame>& frames) {
    std::vector<RemoteMessage> messages;
    for (const auto& frame : frames) {
        if (frame.message) messages.push_back(*frame.message);
    }
    return messages;
}

std::vector<std::string> ackedIds(const ScriptedServer& server) {
    std::vector<std::string> ids;
    for (const auto& message : messagesOf(server.frames())) {
        if (const auto* ack = message.as<RemoteMessage::PushAck>()) ids.push_back(ack->id);
    }
    return ids;
}

Outgoing push(RemoteMessage message) {
    return Outgoing::send(std::move(message));
}

TEST(SubscriptionClientLink, SubscribesThenDeliversAndAcknowledgesWhatWasTaken) {
    Bytes picture(150'000);
    for (std::size_t i = 0; i < picture.size(); ++i)
        picture[i] = static_cast<std::uint8_t>(i % 251);
    std::vector<Outgoing> pushes{
        push(RemoteMessage::PushText{"t1", 1, "hello phone", kSentAt}),
        push(RemoteMessage::PushText{"t2", 2, "refuse", kSentAt}),
        push(RemoteMessage::PushSecret{"s1", 3, "hunter2", kSentAt}),
        push(RemoteMessage::PushImageBegin{"i1", ImageFormat::png, 150'000, 4, kSentAt}),
    };
    for (std::size_t offset = 0, index = 0; offset < picture.size(); offset += 65'536, ++index) {
        const std::size_t end = std::min(picture.size(), offset + 65'536);
        pushes.push_back(push(
            RemoteMessage::PushImageChunk{"i1", static_cast<std::int64_t>(index),
                                          Bytes(picture.begin() + offset, picture.begin() + end)}));
    }
    pushes.push_back(push(RemoteMessage::PushImageEnd{"i1"}));
    ScriptedServer server(computer(pushes));
    Phone phone;
    Await<End> ended;
    SubscriptionClient client("127.0.0.1", server.port(), server.fingerprint(), kSecret, timing());
    client.run([&] { ++phone.connected; }, phone.deliver(), ended.completion());

    ASSERT_TRUE(server.waitUntil([&] { return ackedIds(server).size() == 3; }));
    EXPECT_THAT(ackedIds(server), ::testing::ElementsAre("t1", "s1", "i1"));
    const auto items = phone.items();
    ASSERT_EQ(items.size(), 4u);
    EXPECT_EQ(items[0], (ComputerPush{"t1", 1, kSentAt, ComputerPush::Text{"hello phone"}}));
    EXPECT_EQ(items[2], (ComputerPush{"s1", 3, kSentAt, ComputerPush::Secret{"hunter2"}}));
    EXPECT_EQ(items[3],
              (ComputerPush{"i1", 4, kSentAt, ComputerPush::Image{picture, ImageFormat::png}}));
    EXPECT_EQ(phone.connected, 1);

    const auto messages = messagesOf(server.frames());
    ASSERT_GE(messages.size(), 3u);
    EXPECT_EQ(messages[0], RemoteMessage(RemoteMessage::Hello{kSecret}));
    EXPECT_EQ(messages[1], RemoteMessage(RemoteMessage::Subscribe{true}));
    EXPECT_EQ(messages[2],
              RemoteMessage(RemoteMessage::Heartbeat{0}));  // at once, before any push ack

    client.close();
    EXPECT_EQ(ended.get(), End::closed());
}

TEST(SubscriptionClientLink, RefusalsAndOddRepliesEndTheRun) {
    {
        ScriptedServer server(computer({}));
        Await<End> ended;
        SubscriptionClient client("127.0.0.1", server.port(), server.fingerprint(), "wrong",
                                  timing());
        client.run({}, {}, ended.completion());
        EXPECT_EQ(ended.get(), End::rejected("unknown_device"));
    }
    {  // a failed acknowledgement without a reason
        ScriptedServer server([](int, const Frame&) {
            return std::vector<Outgoing>{Outgoing::send(
                RemoteMessage::Ack{false, std::nullopt, std::nullopt, std::nullopt})};
        });
        Await<End> ended;
        SubscriptionClient client("127.0.0.1", server.port(), server.fingerprint(), kSecret,
                                  timing());
        client.run({}, {}, ended.completion());
        EXPECT_EQ(ended.get(), End::disconnected());
    }
    {  // a refusal while streaming
        ScriptedServer server(computer(
            {Outgoing::send(RemoteMessage::Ack{true, std::nullopt, std::nullopt, std::nullopt}),
             ackError("unknown_device")}));
        Await<End> ended;
        SubscriptionClient client("127.0.0.1", server.port(), server.fingerprint(), kSecret,
                                  timing());
        client.run({}, {}, ended.completion());
        EXPECT_EQ(ended.get(), End::rejected("unknown_device"));
    }
    {  // the computer hangs up
        ScriptedServer server(computer({Outgoing::closeWith(1008)}));
        Await<End> ended;
        std::atomic<bool> connected{false};
        SubscriptionClient client("127.0.0.1", server.port(), server.fingerprint(), kSecret,
                                  timing());
        client.run([&] { connected = true; }, {}, ended.completion());
        EXPECT_EQ(ended.get(), End::disconnected());
        EXPECT_TRUE(connected);
    }
}

TEST(SubscriptionClientLink, PinningAndReachability) {
    ScriptedServer server(computer({}));
    {
        Await<End> ended;
        SubscriptionClient client("127.0.0.1", server.port(), std::string(64, 'b'), kSecret,
                                  timing());
        client.run({}, {}, ended.completion());
        EXPECT_EQ(ended.get(), End::certificateMismatch());
        EXPECT_TRUE(server.frames().empty());
        EXPECT_EQ(server.upgraded(), 0);
    }
    {
        Await<End> ended;
        SubscriptionClient client("bad..host", server.port(), server.fingerprint(), kSecret,
                                  timing());
        client.run({}, {}, ended.completion());
        EXPECT_EQ(ended.get(), End::unreachable());
        EXPECT_EQ(server.tcpAccepted(), 1);  // only the pinning attempt above
    }
    {  // closed before it ran
        Await<End> ended;
        SubscriptionClient client("127.0.0.1", server.port(), server.fingerprint(), kSecret,
                                  timing());
        client.close();
        client.run({}, {}, ended.completion());
        EXPECT_EQ(ended.get(), End::closed());
    }
}

TEST(SubscriptionClientTiming, HeartbeatsCountUpAndKeepAnAnsweringLinkAlive) {
    ScriptedServer server(computer({}));
    Await<End> ended;
    // The deadline is forty beats long: an answer delayed by a busy machine cannot miss it, and
    // fifty beats still span more than the deadline.
    SubscriptionClient client("127.0.0.1", server.port(), server.fingerprint(), kSecret,
                              timing(50ms, 2s));
    client.run({}, {}, ended.completion());

    auto heartbeats = [&] {
        std::vector<std::int64_t> counts;
        for (const auto& message : messagesOf(server.frames())) {
            if (const auto* beat = message.as<RemoteMessage::Heartbeat>())
                counts.push_back(beat->n);
        }
        return counts;
    };
    // The answers keep the link alive past the deadline.
    ASSERT_TRUE(server.waitUntil([&] { return heartbeats().size() >= 50; }, 30s));
    EXPECT_FALSE(ended.ready());
    const auto counts = heartbeats();
    for (std::size_t i = 0; i < counts.size(); ++i)
        EXPECT_EQ(counts[i], static_cast<std::int64_t>(i));
    client.close();
    EXPECT_EQ(ended.get(), End::closed());
}

TEST(SubscriptionClientTiming, SilentComputerMissesTheDeadline) {
    ScriptedServer server(computer({}, /*answerHeartbeats=*/false));
    Await<End> ended;
    SubscriptionClient client("127.0.0.1", server.port(), server.fingerprint(), kSecret,
                              timing(20ms, 150ms));
    const auto start = std::chrono::steady_clock::now();
    client.run({}, {}, ended.completion());
    EXPECT_EQ(ended.get(), End::deadlineMissed());
    // Not before the deadline: the check measures silence, not time since start.
    EXPECT_GE(std::chrono::steady_clock::now() - start, 150ms);
}

TEST(SubscriptionClientTiming, ComputerThatNeverOpensGivesUnreachableAfterTheConnectTimeout) {
    ScriptedServer server(computer({}), ScriptedServer::Mode::silentTcp);
    Await<End> ended;
    SubscriptionClient client("127.0.0.1", server.port(), server.fingerprint(), kSecret,
                              {1s, 10s, 100ms});
    client.run({}, {}, ended.completion());
    EXPECT_EQ(ended.get(), End::unreachable());
}

TEST(SubscriptionClientLink, UndecodableFramesAreSkipped) {
    ScriptedServer server(computer(
        {Outgoing::rawText("{nope"), push(RemoteMessage::PushText{"t9", 9, "after", kSentAt})}));
    Phone phone;
    Await<End> ended;
    SubscriptionClient client("127.0.0.1", server.port(), server.fingerprint(), kSecret, timing());
    client.run({}, phone.deliver(), ended.completion());
    ASSERT_TRUE(server.waitUntil([&] { return ackedIds(server).size() == 1; }));
    EXPECT_EQ(ackedIds(server), std::vector<std::string>{"t9"});
    client.close();
    EXPECT_EQ(ended.get(), End::closed());
}

}  // namespace
}  // namespace kestrune
