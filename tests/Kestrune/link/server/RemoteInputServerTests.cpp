#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>

#include "tests/support/ServerHarness.hpp"
#include "tests/support/TestPhone.hpp"
#include "tests/support/WaitUntil.hpp"

namespace kestrune::testing {
namespace {

constexpr std::uint16_t kPolicyViolation = 1008;
// How long a test waits for a time-out of the server to close or stop something: ten times the
// longest time-out the tests set (3 s), so that a busy machine cannot fail them.
constexpr std::chrono::milliseconds kClosedWithin{30'000};

const RemoteMessage::Ack* ackOf(const std::optional<RemoteMessage>& message) {
    return message ? message->as<RemoteMessage::Ack>() : nullptr;
}

bool isAckOk(const std::optional<RemoteMessage>& message) {
    const auto* ack = ackOf(message);
    return ack && ack->ok && !ack->error;
}

std::optional<std::string> ackError(const std::optional<RemoteMessage>& message) {
    const auto* ack = ackOf(message);
    if (!ack || ack->ok) return std::nullopt;
    return ack->error;
}

std::optional<PairingToken> issueToken(ServerHarness& harness) {
    std::optional<std::optional<PairingToken>> token;
    std::mutex mutex;
    std::condition_variable done;
    harness.server().issuePairingToken(true, [&](std::optional<PairingToken> issued) {
        std::lock_guard lock(mutex);
        token = issued;
        done.notify_all();
    });
    std::unique_lock lock(mutex);
    done.wait_for(lock, 5s, [&] { return token.has_value(); });
    return token ? *token : std::nullopt;
}

RemoteInputServer::ConnectionCounts countConnections(ServerHarness& harness) {
    std::optional<RemoteInputServer::ConnectionCounts> counts;
    std::mutex mutex;
    std::condition_variable done;
    harness.server().countConnections([&](RemoteInputServer::ConnectionCounts c) {
        std::lock_guard lock(mutex);
        counts = c;
        done.notify_all();
    });
    std::unique_lock lock(mutex);
    done.wait_for(lock, 5s, [&] { return counts.has_value(); });
    return counts.value_or(RemoteInputServer::ConnectionCounts{999, 999});
}

std::unique_ptr<TestPhone> authorizedPhone(ServerHarness& harness, const std::string& secret) {
    auto phone = TestPhone::connect(harness.port());
    if (!phone || !phone->authenticate(secret)) return nullptr;
    return phone;
}

Bytes patternBytes(std::size_t size) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = std::uint8_t((i * 31 + 7) % 251);
    return bytes;
}

// ---------------------------------------------------------------------------------------------

TEST(RemoteInputServer, PairingAsksTheOwnerAndHandsTheApprovedPhoneASecret) {
    ServerHarness harness;
    ASSERT_NE(harness.start(), 0);
    const auto token = issueToken(harness);
    ASSERT_TRUE(token);

    auto phone = TestPhone::connect(harness.port(), testIdentity().fingerprint);
    ASSERT_TRUE(phone);
    ASSERT_TRUE(phone->send(RemoteMessage::Pair{token->value, "  Pixel\t"}));
    ASSERT_TRUE(harness.log().waitFor([](OwnerLog& l) { return l.approvals.size() == 1; }));
    std::function<void(bool)> reply;
    harness.log().record([&](OwnerLog& l) {
        EXPECT_EQ(l.approvals[0].deviceName, "Pixel");
        EXPECT_EQ(l.approvals[0].peer, "127.0.0.1");
        reply = l.approvalReplies[0];
    });
    // Until the user answers, the phone is told to wait and stays connected.
    ASSERT_TRUE(phone->send(RemoteMessage::Text{"too early"}));
    EXPECT_EQ(ackError(phone->receive()), "awaiting_approval");

    reply(true);
    const auto paired = phone->receive();
    ASSERT_TRUE(paired && paired->is<RemoteMessage::Paired>());
    const auto secret = paired->as<RemoteMessage::Paired>()->secret;
    ASSERT_EQ(harness.devices().devices().size(), 1u);
    EXPECT_EQ(harness.devices().devices()[0].name, "Pixel");

    // The code worked once; the secret works from now on.
    auto second = TestPhone::connect(harness.port());
    ASSERT_TRUE(second);
    ASSERT_TRUE(second->send(RemoteMessage::Pair{token->value, "Other"}));
    EXPECT_EQ(ackError(second->receive()), "token_invalid");
    EXPECT_EQ(second->awaitClose(), kPolicyViolation);
    EXPECT_TRUE(authorizedPhone(harness, secret));
    harness.log().record([](OwnerLog& l) { EXPECT_FALSE(l.wrongThread); });
}

TEST(RemoteInputServer, DeclinedPairingIsRefusedAndClosed) {
    ServerHarness harness;
    ASSERT_NE(harness.start(), 0);
    const auto token = issueToken(harness);
    ASSERT_TRUE(token);
    auto phone = TestPhone::connect(harness.port());
    ASSERT_TRUE(phone);
    ASSERT_TRUE(phone->send(RemoteMessage::Pair{token->value, "Pixel"}));
    ASSERT_TRUE(harness.log().waitFor([](OwnerLog& l) { return l.approvals.size() == 1; }));
    harness.log().record([](OwnerLog& l) { l.approvalReplies[0](false); });
    EXPECT_EQ(ackError(phone->receive()), "pairing_rejected");
    EXPECT_EQ(phone->awaitClose(), kPolicyViolation);
    EXPECT_TRUE(harness.devices().devices().empty());
}

TEST(RemoteInputServer, APhoneLeavingDuringApprovalWithdrawsTheRequest) {
    ServerHarness harness;
    ASSERT_NE(harness.start(), 0);
    const auto token = issueToken(harness);
    ASSERT_TRUE(token);
    auto phone = TestPhone::connect(harness.port());
    ASSERT_TRUE(phone);
    ASSERT_TRUE(phone->send(RemoteMessage::Pair{token->value, "Pixel"}));
    ASSERT_TRUE(harness.log().waitFor([](OwnerLog& l) { return l.approvals.size() == 1; }));
    phone.reset();
    ASSERT_TRUE(
        harness.log().waitFor([](OwnerLog& l) { return l.withdrawnApprovals.size() == 1; }));
    harness.log().record([](OwnerLog& l) {
        EXPECT_EQ(l.withdrawnApprovals[0], l.approvals[0].id);
        // A late answer finds nobody and does nothing.
        l.approvalReplies[0](true);
    });
    EXPECT_EQ(countConnections(harness).total, 0u);
    EXPECT_TRUE(harness.devices().devices().empty());
}

TEST(RemoteInputServer, HelloAuthenticatesAndUnknownSecretsAreRefused) {
    ServerHarness harness;
    ASSERT_NE(harness.start(), 0);
    const auto [id, secret] = harness.pairDevice();
    EXPECT_TRUE(authorizedPhone(harness, secret));

    auto stranger = TestPhone::connect(harness.port());
    ASSERT_TRUE(stranger);
    ASSERT_TRUE(stranger->send(RemoteMessage::Hello{std::string(64, 'a')}));
    EXPECT_EQ(ackError(stranger->receive()), "unknown_device");
    EXPECT_EQ(stranger->awaitClose(), kPolicyViolation);

    auto rude = TestPhone::connect(harness.port());
    ASSERT_TRUE(rude);
    ASSERT_TRUE(rude->sendText("not json at all"));
    EXPECT_EQ(ackError(rude->receive()), "unauthenticated");
    EXPECT_EQ(rude->awaitClose(), kPolicyViolation);
}

TEST(RemoteInputServer, CommandsRunOneAtATimeAndEachIsAnswered) {
    ServerHarness harness(ServerHarness::Options{.holdCommands = true});
    ASSERT_NE(harness.start(), 0);
    const auto [id, secret] = harness.pairDevice();
    auto phone = authorizedPhone(harness, secret);
    ASSERT_TRUE(phone);

    ASSERT_TRUE(phone->send(RemoteMessage::Text{"first"}));
    // Binary frames carry the same JSON text.
    ASSERT_TRUE(phone->sendBinary(R"({"v":1,"type":"key","payload":"TAB"})"));
    ASSERT_TRUE(harness.log().waitFor([](OwnerLog& l) { return l.commands.size() == 1; }));
    // The second message stays unread while the first runs.
    EXPECT_FALSE(harness.log().waitFor([](OwnerLog& l) { return l.commands.size() > 1; }, 300ms));

    harness.finishHeldCommand();
    EXPECT_TRUE(isAckOk(phone->receive()));
    ASSERT_TRUE(harness.log().waitFor([](OwnerLog& l) { return l.commands.size() == 2; }));
    harness.finishHeldCommand(RemoteError::textEmpty);
    EXPECT_EQ(ackError(phone->receive()), "text_empty");

    harness.log().record([](OwnerLog& l) {
        EXPECT_EQ(l.commands[0], RemoteMessage(RemoteMessage::Text{"first"}));
        EXPECT_EQ(l.commands[1], RemoteMessage(RemoteMessage::Key{"TAB"}));
        EXPECT_FALSE(l.wrongThread);
    });

    // `internal` ends the connection after its refusal.
    ASSERT_TRUE(phone->send(RemoteMessage::Text{"third"}));
    ASSERT_TRUE(harness.log().waitFor([](OwnerLog& l) { return l.commands.size() == 3; }));
    harness.finishHeldCommand(RemoteError::internal);
    EXPECT_EQ(ackError(phone->receive()), "internal");
    EXPECT_EQ(phone->awaitClose(), kPolicyViolation);
}

// The owner goes while phones are connected, as the application's controller does when it quits:
// the server, which holds it weakly, carries on without it. An answer the owner gave before still
// counts; what needs one now is refused, and its notices reach nobody.
TEST(RemoteInputServer, WithoutItsOwnerRequestsAreRefusedAndNoticesGoNowhere) {
    ServerHarness harness(ServerHarness::Options{.holdCommands = true});
    ASSERT_NE(harness.start(), 0);
    const auto token = issueToken(harness);
    ASSERT_TRUE(token);
    const auto [id, secret] = harness.pairDevice();
    auto phone = authorizedPhone(harness, secret);
    ASSERT_TRUE(phone);
    ASSERT_TRUE(phone->send(RemoteMessage::Text{"taken"}));
    ASSERT_TRUE(harness.log().waitFor([](OwnerLog& l) { return l.commands.size() == 1; }));

    harness.releaseOwner();
    harness.finishHeldCommand();
    EXPECT_TRUE(isAckOk(phone->receive()));
    ASSERT_TRUE(phone->send(RemoteMessage::Text{"unheard"}));
    EXPECT_EQ(ackError(phone->receive()), "internal");
    EXPECT_EQ(phone->awaitClose(), kPolicyViolation);

    auto newcomer = TestPhone::connect(harness.port());
    ASSERT_TRUE(newcomer);
    ASSERT_TRUE(newcomer->send(RemoteMessage::Pair{token->value, "Late"}));
    EXPECT_EQ(ackError(newcomer->receive()), "pairing_rejected");
    EXPECT_EQ(harness.devices().devices().size(), 1u) << "only the phone paired before";

    harness.server().stop();
    // Answered on the owner's queue after the stop's notice would have been.
    countConnections(harness);
    harness.log().record([](OwnerLog& l) {
        EXPECT_EQ(l.commands.size(), 1u);
        EXPECT_TRUE(l.approvals.empty());
        EXPECT_TRUE(l.stops.empty());
        EXPECT_FALSE(l.wrongThread);
    });
}

// Every accepted socket of the server in this process: local port is the server's, peer connected.
std::vector<int> serverSideSockets(std::uint16_t serverPort) {
    std::vector<int> sockets;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        const int fd = std::stoi(entry.path().filename().string());
        sockaddr_in local{}, peer{};
        socklen_t localLength = sizeof local, peerLength = sizeof peer;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength) != 0 ||
            local.sin_family != AF_INET || ntohs(local.sin_port) != serverPort ||
            ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0) {
            continue;
        }
        sockets.push_back(fd);
    }
    return sockets;
}

int intOption(int fd, int level, int name) {
    int value = -1;
    socklen_t length = sizeof value;
    ::getsockopt(fd, level, name, &value, &length);
    return value;
}

TEST(RemoteInputServer, ConnectionsKeepAliveAndPingsAreAnswered) {
    ServerHarness harness;
    ASSERT_NE(harness.start(), 0);
    const auto [id, secret] = harness.pairDevice();
    auto phone = authorizedPhone(harness, secret);
    ASSERT_TRUE(phone);

    const auto sockets = serverSideSockets(harness.port());
    ASSERT_EQ(sockets.size(), 1u);
    EXPECT_EQ(intOption(sockets[0], SOL_SOCKET, SO_KEEPALIVE), 1);
    EXPECT_EQ(intOption(sockets[0], IPPROTO_TCP, TCP_KEEPIDLE), 30);
    EXPECT_EQ(intOption(sockets[0], IPPROTO_TCP, TCP_KEEPINTVL), 10);
    EXPECT_EQ(intOption(sockets[0], IPPROTO_TCP, TCP_KEEPCNT), 3);

    ASSERT_TRUE(phone->ping());
    ASSERT_TRUE(phone->send(RemoteMessage::Text{"after the ping"}));
    EXPECT_TRUE(isAckOk(phone->receive()));
    EXPECT_EQ(phone->pongsReceived(), 1);
}

TEST(RemoteInputServer, APeerThatIgnoresTheCloseFrameIsShutAfterTheGrace) {
    // The hello time-out counts from the accept, so it must outlast the handshakes (well under
    // 300 ms with sanitizers on a busy machine) many times over.
    ServerHarness harness(ServerHarness::Options{.configure = [](auto& configuration) {
        configuration.helloTimeout = 3s;
        configuration.closeGrace = 300ms;
    }});
    ASSERT_NE(harness.start(), 0);
    // Handshakes done, then it never reads again, so it never answers the server's close.
    auto deaf = TestPhone::connect(harness.port());
    ASSERT_TRUE(deaf);
    ASSERT_EQ(serverSideSockets(harness.port()).size(), 1u);
    waitUntil([&] { return serverSideSockets(harness.port()).empty(); }, kClosedWithin);
    EXPECT_TRUE(serverSideSockets(harness.port()).empty());
    EXPECT_EQ(deaf->awaitClose(kClosedWithin), kPolicyViolation);
}

TEST(RemoteInputServer, APictureArrivesWholeAndItsAckNamesTheSavedFile) {
    ServerHarness harness;
    ASSERT_NE(harness.start(), 0);
    const auto [id, secret] = harness.pairDevice();
    auto phone = authorizedPhone(harness, secret);
    ASSERT_TRUE(phone);

    const Bytes picture = patternBytes(150'000);
    ASSERT_TRUE(phone->send(
        RemoteMessage::ImageBegin{"img-1", ImageFormat::png, std::int64_t(picture.size()), true}));
    EXPECT_TRUE(isAckOk(phone->receive()));
    std::int64_t index = 0;
    for (std::size_t offset = 0; offset < picture.size(); offset += 65'536) {
        const auto end = std::min(picture.size(), offset + 65'536);
        ASSERT_TRUE(phone->send(RemoteMessage::ImageChunk{
            "img-1", index++, Bytes(picture.begin() + long(offset), picture.begin() + long(end))}));
        EXPECT_TRUE(isAckOk(phone->receive()));
    }
    ASSERT_TRUE(phone->send(RemoteMessage::ImageEnd{"img-1"}));
    const auto reply = phone->receive();
    ASSERT_TRUE(ackOf(reply));
    EXPECT_TRUE(ackOf(reply)->ok);
    EXPECT_EQ(ackOf(reply)->saved, "picture.jpeg");
    EXPECT_EQ(ackOf(reply)->savedIn, "Pictures");
    harness.log().record([&](OwnerLog& l) {
        ASSERT_EQ(l.images.size(), 1u);
        EXPECT_EQ(l.images[0], picture);
    });
}

// A phone that sends without waiting for answers: while the first command is held, the rest pile
// up unread, and the server's next receive takes several of them at once. Each is still answered,
// in order, including those already read into memory when no further byte comes from the phone
// to wake the server for them; the picture in between arrives whole.
TEST(RemoteInputServer, MessagesSentInOneBurstAreAnsweredInOrder) {
    ServerHarness harness(ServerHarness::Options{.holdCommands = true});
    ASSERT_NE(harness.start(), 0);
    const auto [id, secret] = harness.pairDevice();
    auto phone = authorizedPhone(harness, secret);
    ASSERT_TRUE(phone);

    const Bytes picture = patternBytes(3 * 65'536 + 100);
    ASSERT_TRUE(phone->send(RemoteMessage::Text{"one"}));
    ASSERT_TRUE(phone->send(RemoteMessage::Text{"two"}));
    ASSERT_TRUE(phone->send(RemoteMessage::ImageBegin{"burst", ImageFormat::jpeg,
                                                      std::int64_t(picture.size()), false}));
    std::int64_t chunks = 0;
    for (std::size_t offset = 0; offset < picture.size(); offset += 65'536) {
        const auto end = std::min(picture.size(), offset + 65'536);
        ASSERT_TRUE(phone->send(RemoteMessage::ImageChunk{
            "burst", chunks++,
            Bytes(picture.begin() + long(offset), picture.begin() + long(end))}));
    }
    ASSERT_TRUE(phone->send(RemoteMessage::ImageEnd{"burst"}));
    ASSERT_TRUE(phone->send(RemoteMessage::Text{"three"}));

    for (std::size_t held = 1; held <= 2; ++held) {
        ASSERT_TRUE(harness.log().waitFor([&](OwnerLog& l) { return l.commands.size() == held; }));
        harness.finishHeldCommand();
        EXPECT_TRUE(isAckOk(phone->receive())) << "text " << held;
    }
    // The picture's beginning, its chunks and its end, each answered without a held command.
    for (std::int64_t answer = 0; answer < chunks + 2; ++answer) {
        EXPECT_TRUE(isAckOk(phone->receive())) << "picture answer " << answer;
    }
    ASSERT_TRUE(harness.log().waitFor([](OwnerLog& l) { return l.commands.size() == 3; }));
    harness.finishHeldCommand();
    EXPECT_TRUE(isAckOk(phone->receive()));

    harness.log().record([&](OwnerLog& l) {
        EXPECT_EQ(l.commands[0], RemoteMessage(RemoteMessage::Text{"one"}));
        EXPECT_EQ(l.commands[1], RemoteMessage(RemoteMessage::Text{"two"}));
        EXPECT_EQ(l.commands[2], RemoteMessage(RemoteMessage::Text{"three"}));
        ASSERT_EQ(l.images.size(), 1u);
        EXPECT_EQ(l.images[0], picture);
        EXPECT_FALSE(l.wrongThread);
    });
}

TEST(RemoteInputServer, SubscriptionGetsPendingItemsAndAcknowledgementsClearThem) {
    ServerHarness harness;
    ASSERT_NE(harness.start(), 0);
    const auto [device, secret] = harness.pairDevice();
    const auto text = harness.outbox().enqueue(Outbox::Content::text("hello phone"), {device});
    const Bytes picture = patternBytes(150'000);
    const auto image =
        harness.outbox().enqueue(Outbox::Content::image(picture, ImageFormat::jpeg), {device});
    ASSERT_TRUE(text && image);

    auto phone = authorizedPhone(harness, secret);
    ASSERT_TRUE(phone);
    ASSERT_TRUE(phone->send(RemoteMessage::Subscribe{false}));
    EXPECT_TRUE(isAckOk(phone->receive()));

    const auto pushedText = phone->receive();
    ASSERT_TRUE(pushedText && pushedText->is<RemoteMessage::PushText>());
    EXPECT_EQ(pushedText->as<RemoteMessage::PushText>()->text, "hello phone");
    EXPECT_EQ(pushedText->as<RemoteMessage::PushText>()->id, text.value().id);

    const auto begin = phone->receive();
    ASSERT_TRUE(begin && begin->is<RemoteMessage::PushImageBegin>());
    EXPECT_EQ(begin->as<RemoteMessage::PushImageBegin>()->size, 150'000);
    EXPECT_EQ(begin->as<RemoteMessage::PushImageBegin>()->format, ImageFormat::jpeg);
    Bytes received;
    std::vector<std::size_t> chunkSizes;
    for (std::int64_t index = 0; index < 3; ++index) {
        const auto chunk = phone->receive();
        ASSERT_TRUE(chunk && chunk->is<RemoteMessage::PushImageChunk>());
        EXPECT_EQ(chunk->as<RemoteMessage::PushImageChunk>()->index, index);
        const auto& data = chunk->as<RemoteMessage::PushImageChunk>()->data;
        chunkSizes.push_back(data.size());
        received.insert(received.end(), data.begin(), data.end());
    }
    EXPECT_EQ(chunkSizes, (std::vector<std::size_t>{65'536, 65'536, 18'928}));
    EXPECT_EQ(received, picture);
    const auto end = phone->receive();
    ASSERT_TRUE(end && end->is<RemoteMessage::PushImageEnd>());

    ASSERT_TRUE(phone->send(RemoteMessage::PushAck{text.value().id}));
    ASSERT_TRUE(harness.log().waitFor([](OwnerLog& l) { return l.pushAcknowledged.size() == 1; }));
    EXPECT_FALSE(harness.outbox().isPending(text.value().id));
    EXPECT_TRUE(harness.outbox().isPending(image.value().id));

    // A password for a phone that keeps none: acknowledged on its behalf, nothing sent.
    const auto password = harness.outbox().enqueue(Outbox::Content::secret("hunter2"), {device});
    ASSERT_TRUE(password);
    ASSERT_TRUE(harness.log().waitFor([](OwnerLog& l) { return l.secretsRefused.size() == 1; }));
    EXPECT_FALSE(harness.outbox().isPending(password.value().id));
    // A new text is pushed at once; the already pushed picture is not repeated.
    ASSERT_TRUE(harness.outbox().enqueue(Outbox::Content::text("second"), {device}));
    const auto next = phone->receive();
    ASSERT_TRUE(next && next->is<RemoteMessage::PushText>());
    EXPECT_EQ(next->as<RemoteMessage::PushText>()->text, "second");
    ASSERT_TRUE(phone->send(RemoteMessage::Heartbeat{7}));
    const auto heartbeat = phone->receive();
    ASSERT_TRUE(heartbeat && heartbeat->is<RemoteMessage::HeartbeatAck>());
    EXPECT_EQ(heartbeat->as<RemoteMessage::HeartbeatAck>()->n, 7);
}

TEST(RemoteInputServer, SecretsGoToPhonesThatAcceptThemAndANewSubscriptionReplacesTheOld) {
    ServerHarness harness;
    ASSERT_NE(harness.start(), 0);
    const auto [device, secret] = harness.pairDevice();
    const auto password = harness.outbox().enqueue(Outbox::Content::secret("hunter2"), {device});
    ASSERT_TRUE(password);

    auto first = authorizedPhone(harness, secret);
    ASSERT_TRUE(first);
    ASSERT_TRUE(first->send(RemoteMessage::Subscribe{true}));
    EXPECT_TRUE(isAckOk(first->receive()));
    const auto pushed = first->receive();
    ASSERT_TRUE(pushed && pushed->is<RemoteMessage::PushSecret>());
    EXPECT_EQ(pushed->as<RemoteMessage::PushSecret>()->payload, "hunter2");

    auto second = authorizedPhone(harness, secret);
    ASSERT_TRUE(second);
    ASSERT_TRUE(second->send(RemoteMessage::Subscribe{true}));
    EXPECT_TRUE(isAckOk(second->receive()));
    EXPECT_EQ(first->awaitClose(), kPolicyViolation);
    // The new channel gets the still unacknowledged item again.
    const auto again = second->receive();
    ASSERT_TRUE(again && again->is<RemoteMessage::PushSecret>());
    ASSERT_TRUE(second->send(RemoteMessage::PushAck{password.value().id}));
    ASSERT_TRUE(harness.log().waitFor([](OwnerLog& l) { return l.pushAcknowledged.size() == 1; }));
}

TEST(RemoteInputServer, SilentSubscriptionsAndUnauthenticatedConnectionsAreClosed) {
    // The subscriber must say hello well inside the hello time-out; the silent one is closed by it.
    ServerHarness harness(ServerHarness::Options{.configure = [](auto& configuration) {
        configuration.helloTimeout = 3s;
        configuration.subscriptionDeadline = 300ms;
    }});
    ASSERT_NE(harness.start(), 0);
    const auto [device, secret] = harness.pairDevice();
    const auto token = issueToken(harness);
    ASSERT_TRUE(token);

    auto waiting = TestPhone::connect(harness.port());
    ASSERT_TRUE(waiting);
    ASSERT_TRUE(waiting->send(RemoteMessage::Pair{token->value, "Pixel"}));
    ASSERT_TRUE(harness.log().waitFor([](OwnerLog& l) { return l.approvals.size() == 1; }));
    auto silent = TestPhone::connect(harness.port());
    ASSERT_TRUE(silent);
    auto subscriber = authorizedPhone(harness, secret);
    ASSERT_TRUE(subscriber);
    ASSERT_TRUE(subscriber->send(RemoteMessage::Subscribe{false}));
    EXPECT_TRUE(isAckOk(subscriber->receive()));

    EXPECT_EQ(silent->awaitClose(kClosedWithin), kPolicyViolation);
    EXPECT_EQ(subscriber->awaitClose(kClosedWithin), kPolicyViolation);
    // The hello time-out spares a phone whose pairing waits for the user.
    ASSERT_TRUE(waiting->send(RemoteMessage::Heartbeat{1}));
    EXPECT_EQ(ackError(waiting->receive()), "awaiting_approval");
}

TEST(RemoteInputServer, RemovingAPhoneEndsItsConnections) {
    ServerHarness harness;
    ASSERT_NE(harness.start(), 0);
    const auto [device, secret] = harness.pairDevice();
    const auto [other, otherSecret] = harness.pairDevice("Other");
    auto phone = authorizedPhone(harness, secret);
    auto bystander = authorizedPhone(harness, otherSecret);
    ASSERT_TRUE(phone && bystander);
    ASSERT_TRUE(harness.outbox().enqueue(Outbox::Content::text("x"), {device, other}));

    ASSERT_TRUE(harness.devices().remove(device));
    EXPECT_EQ(ackError(phone->receive()), "unknown_device");
    EXPECT_EQ(phone->awaitClose(), kPolicyViolation);
    ASSERT_TRUE(
        harness.log().waitFor([&](OwnerLog&) { return harness.outbox().pending(device).empty(); }));
    EXPECT_EQ(harness.outbox().pending(other).size(), 1u);
    ASSERT_TRUE(bystander->send(RemoteMessage::Text{"still here"}));
    EXPECT_TRUE(isAckOk(bystander->receive()));
}

TEST(RemoteInputServer, ConnectionLimitEvictsUnauthenticatedThenIdleAndRefusesWhenAllWork) {
    ServerHarness harness(ServerHarness::Options{
        .holdCommands = true,
        .configure = [](auto& configuration) { configuration.maxConnections = 4; }});
    ASSERT_NE(harness.start(), 0);
    const auto [device, secret] = harness.pairDevice();
    std::vector<std::unique_ptr<TestPhone>> phones;
    for (int i = 0; i < 3; ++i) {
        phones.push_back(authorizedPhone(harness, secret));
        ASSERT_TRUE(phones.back());
    }
    auto stranger = TestPhone::connect(harness.port());
    ASSERT_TRUE(stranger);
    ASSERT_TRUE(
        harness.log().waitFor([&](OwnerLog&) { return countConnections(harness).total == 4; }));

    // Full: the unauthenticated one makes room.
    phones.push_back(authorizedPhone(harness, secret));
    ASSERT_TRUE(phones.back());
    EXPECT_EQ(stranger->awaitClose(), kPolicyViolation);

    // Full of authorized phones: the one heard from least recently goes, busy ones stay.
    for (std::size_t i = 1; i < phones.size(); ++i) {
        ASSERT_TRUE(phones[i]->send(RemoteMessage::Text{"busy"}));
    }
    ASSERT_TRUE(harness.log().waitFor([](OwnerLog& l) { return l.commands.size() == 3; }));
    auto newcomer = authorizedPhone(harness, secret);
    ASSERT_TRUE(newcomer);
    EXPECT_EQ(phones[0]->awaitClose(), kPolicyViolation);

    ASSERT_TRUE(newcomer->send(RemoteMessage::Text{"busy too"}));
    ASSERT_TRUE(harness.log().waitFor([](OwnerLog& l) { return l.commands.size() == 4; }));
    // Everyone is working: a new arrival is refused before its handshake.
    EXPECT_FALSE(TestPhone::connect(harness.port()));
    EXPECT_EQ(countConnections(harness).total, 4u);
    for (int i = 0; i < 4; ++i) harness.finishHeldCommand();
    EXPECT_TRUE(isAckOk(newcomer->receive()));
}

TEST(RemoteInputServer, PendingLimitClosesTheOldestUnauthenticatedConnection) {
    ServerHarness harness(ServerHarness::Options{.configure = [](auto& configuration) {
        configuration.maxPendingConnections = 3;
        configuration.maxConnections = 50;
    }});
    ASSERT_NE(harness.start(), 0);
    std::vector<std::unique_ptr<TestPhone>> phones;
    for (int i = 0; i < 3; ++i) {
        phones.push_back(TestPhone::connect(harness.port()));
        ASSERT_TRUE(phones.back());
    }
    phones.push_back(TestPhone::connect(harness.port()));
    ASSERT_TRUE(phones.back());
    EXPECT_EQ(phones[0]->awaitClose(), kPolicyViolation);
    const auto counts = countConnections(harness);
    EXPECT_EQ(counts.unauthenticated, 3u);
    EXPECT_EQ(counts.total, 3u);
}

int occupyPort(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 1) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

std::uint16_t boundPort(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

TEST(RemoteInputServer, TakenPreferredPortFallsBackToAFreeOneThatIsKeptForRestarts) {
    const int blocker = occupyPort(0);
    ASSERT_GE(blocker, 0);
    const auto taken = boundPort(blocker);
    ServerHarness harness(ServerHarness::Options{.preferredPort = taken});
    const auto first = harness.start();
    ASSERT_NE(first, 0);
    EXPECT_NE(first, taken);
    ::close(blocker);

    harness.server().stop();
    ASSERT_TRUE(harness.log().waitFor([](OwnerLog& l) { return l.stops.size() == 1; }));
    harness.log().record(
        [](OwnerLog& l) { EXPECT_EQ(l.stops[0], RemoteInputServer::StopReason::requested()); });
    // The port that worked comes first next time, even though the preferred one is free now.
    EXPECT_EQ(harness.start(), first);
    EXPECT_TRUE(TestPhone::connect(first));
}

TEST(RemoteInputServer, FreePreferredPortIsUsed) {
    const int probe = occupyPort(0);
    ASSERT_GE(probe, 0);
    const auto port = boundPort(probe);
    ::close(probe);
    ServerHarness harness(ServerHarness::Options{.preferredPort = port});
    EXPECT_EQ(harness.start(), port);
}

TEST(RemoteInputServer, StopBeforeReadyFailsTheWaitingStart) {
    const int blocker = occupyPort(0);
    ASSERT_GE(blocker, 0);
    ServerHarness harness(ServerHarness::Options{
        .preferredPort = boundPort(blocker),
        .configure = [](auto& configuration) { configuration.portRetryDelay = 10s; }});
    harness.server().start([log = &harness.log()](RemoteInputServer::StartResult result) {
        log->record([&](OwnerLog& l) { l.starts.push_back(result); });
    });
    harness.server().stop();
    ASSERT_TRUE(harness.log().waitFor([](OwnerLog& l) { return l.starts.size() == 1; }));
    harness.log().record([](OwnerLog& l) {
        ASSERT_FALSE(l.starts[0].ok());
        EXPECT_EQ(l.starts[0].error().description(), "启动完成前已停止");
    });
    ::close(blocker);
}

TEST(RemoteInputServer, AnIdentityWhoseKeyDoesNotFitIsAStartFailure) {
    TemporaryDirectory other{"server-test"};
    TLSIdentityStore store(other.path());
    ASSERT_TRUE(store.generate());
    const auto otherIdentity = store.load();
    ASSERT_TRUE(otherIdentity);
    X509* certificate = testIdentity().identity.certificate();
    EVP_PKEY* key = otherIdentity.value().identity.privateKey();
    X509_up_ref(certificate);
    EVP_PKEY_up_ref(key);
    const TLSIdentity mismatched(std::shared_ptr<x509_st>(certificate, X509_free),
                                 std::shared_ptr<evp_pkey_st>(key, EVP_PKEY_free));

    ServerHarness harness(ServerHarness::Options{
        .preferredPort = 1,
        .configure = [&](auto& configuration) { configuration.identity = mismatched; }});
    const auto result = harness.startAndWait();
    ASSERT_FALSE(result.ok());
    EXPECT_NE(result.error().description().find("TLS identity"), std::string::npos);
    // Nothing was listening, so there is nothing to report as stopped.
    harness.log().record([](OwnerLog& l) { EXPECT_TRUE(l.stops.empty()); });
}

TEST(RemoteInputServer, AnIdleServerStopsAndClosesItsConnections) {
    // Long enough that the phone is surely connected and authenticated before the stop.
    ServerHarness harness(ServerHarness::Options{
        .configure = [](auto& configuration) { configuration.idleTimeout = 3s; }});
    ASSERT_NE(harness.start(), 0);
    const auto [device, secret] = harness.pairDevice();
    auto phone = authorizedPhone(harness, secret);
    ASSERT_TRUE(phone);
    ASSERT_TRUE(
        harness.log().waitFor([](OwnerLog& l) { return l.stops.size() == 1; }, kClosedWithin));
    harness.log().record(
        [](OwnerLog& l) { EXPECT_EQ(l.stops[0], RemoteInputServer::StopReason::idle()); });
    // Stopping closed the phone's connection, and a stopped server gives out no pairing code.
    EXPECT_EQ(phone->awaitClose(), kPolicyViolation);
    EXPECT_FALSE(issueToken(harness));
}

}  // namespace
}  // namespace kestrune::testing
