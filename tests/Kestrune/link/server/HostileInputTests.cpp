#include <gtest/gtest.h>
#include <sys/resource.h>

#include <mutex>

#include "KestruneRemoteKit/Support/Log.hpp"
#include "tests/support/ServerHarness.hpp"
#include "tests/support/TestPhone.hpp"
#include "tests/support/WaitUntil.hpp"

namespace kestrune::testing {
namespace {

constexpr std::size_t kMaxPending = 16;

RemoteInputServer::ConnectionCounts countConnections(ServerHarness& harness) {
    std::optional<RemoteInputServer::ConnectionCounts> counts;
    harness.server().countConnections([&harness, &counts](RemoteInputServer::ConnectionCounts c) {
        harness.log().record([&](OwnerLog&) { counts = c; });
    });
    harness.log().waitFor([&](OwnerLog&) { return counts.has_value(); });
    return counts.value_or(RemoteInputServer::ConnectionCounts{999, 999});
}

// Waits (bounded) until the server holds exactly `total` connections and the process is back to
// `descriptors` open files: closed connections must not leak sockets.
void expectSettlesAt(ServerHarness& harness, std::size_t total, std::size_t descriptors) {
    std::size_t open = 0;
    RemoteInputServer::ConnectionCounts counts;
    if (waitUntil([&] {
            counts = countConnections(harness);
            open = openDescriptorCount();
            return counts.total == total && open == descriptors;
        })) {
        return;
    }
    ADD_FAILURE() << "connections " << counts.total << " (want " << total << "), descriptors "
                  << open << " (want " << descriptors << ")";
}

class HostileInput : public ::testing::Test {
  protected:
    void SetUp() override {
        harness = std::make_unique<ServerHarness>(ServerHarness::Options{
            .configure =
                [](auto& configuration) {
                    configuration.maxPendingConnections = kMaxPending;
                    configuration.maxConnections = 64;
                    configuration.helloTimeout = 2s;
                    configuration.closeGrace = 300ms;
                },
            // A stopped clock: a flood that outlasts a pairing code's minute on a loaded machine
            // must not turn "the right code still works" into "the code expired".
            .now = [] { return Date(std::chrono::seconds(1'800'000'000)); }});
        ASSERT_NE(harness->start(), 0);
        secret = harness->pairDevice().second;
        phone = TestPhone::connect(harness->port());
        ASSERT_TRUE(phone && phone->authenticate(secret));
        baseline = openDescriptorCount();
    }

    // The paired phone's commands keep working whatever else goes on.
    void expectPhoneStillWorks() {
        ASSERT_TRUE(phone->send(RemoteMessage::Text{"still typing"}));
        const auto reply = phone->receive();
        ASSERT_TRUE(reply && reply->is<RemoteMessage::Ack>());
        EXPECT_TRUE(reply->as<RemoteMessage::Ack>()->ok);
    }

    std::unique_ptr<ServerHarness> harness;
    std::string secret;
    std::unique_ptr<TestPhone> phone;
    std::size_t baseline = 0;
};

TEST_F(HostileInput, AThousandConnectionsThatNeverAuthenticate) {
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    // Each connection costs a descriptor on both ends; keep well inside the limit.
    const std::size_t room = limit.rlim_cur > baseline ? (limit.rlim_cur - baseline) / 4 : 0;
    const std::size_t batch = std::min<std::size_t>(100, room);
    ASSERT_GE(batch, 20u) << "too few file descriptors for this test";

    std::size_t opened = 0;
    while (opened < 1000) {
        std::vector<std::unique_ptr<RawSocket>> raw;
        std::vector<std::unique_ptr<TestPhone>> silent;
        for (std::size_t i = 0; i < batch && opened < 1000; ++i, ++opened) {
            // Most never start TLS; every tenth finishes the handshakes and then says nothing.
            if (i % 10 == 0) {
                if (auto connected = TestPhone::connect(harness->port())) {
                    silent.push_back(std::move(connected));
                }
            } else if (auto socket = RawSocket::connect(harness->port())) {
                raw.push_back(std::move(socket));
            }
        }
        const auto counts = countConnections(*harness);
        EXPECT_LE(counts.unauthenticated, kMaxPending);
        EXPECT_LE(counts.total, kMaxPending + 1);
        expectPhoneStillWorks();
    }
    expectSettlesAt(*harness, 1, baseline);
}

TEST_F(HostileInput, MessagesOverTheLimitEndTheConnectionAndTheLimitItselfPasses) {
    const std::string prefix = R"({"v":1,"type":"text","payload":")";
    const std::string suffix = R"("})";
    const std::size_t limit = 262'144;
    auto largest = prefix + std::string(limit - prefix.size() - suffix.size(), 'a') + suffix;
    ASSERT_EQ(largest.size(), limit);
    ASSERT_TRUE(phone->sendText(largest));
    const auto reply = phone->receive();
    ASSERT_TRUE(reply && reply->is<RemoteMessage::Ack>());

    auto big = TestPhone::connect(harness->port());
    ASSERT_TRUE(big && big->authenticate(secret));
    auto tooLarge = prefix + std::string(limit - prefix.size() - suffix.size() + 1, 'a') + suffix;
    // The server may already have hung up while the frame was still being written.
    big->sendText(tooLarge);
    const auto frame = big->receiveFrame();
    EXPECT_NE(frame.kind, TestPhone::Frame::Kind::message);
    EXPECT_NE(frame.kind, TestPhone::Frame::Kind::timeout);
    big.reset();
    expectPhoneStillWorks();
    expectSettlesAt(*harness, 1, baseline);
}

TEST_F(HostileInput, GarbageInsteadOfATlsHelloIsDropped) {
    for (int i = 0; i < 20; ++i) {
        auto socket = RawSocket::connect(harness->port());
        ASSERT_TRUE(socket);
        std::string junk = "GET / HTTP/1.1\r\nHost: x\r\n\r\n";
        for (int k = 0; k < 4096; ++k) junk.push_back(char((k * 131 + i) & 0xff));
        socket->write(junk);
        EXPECT_TRUE(socket->waitForClose(5s));
    }
    expectPhoneStillWorks();
    expectSettlesAt(*harness, 1, baseline);
}

TEST_F(HostileInput, APhoneThatStopsInTheMiddleOfAPicture) {
    for (int round = 0; round < 5; ++round) {
        auto sender = TestPhone::connect(harness->port());
        ASSERT_TRUE(sender && sender->authenticate(secret));
        ASSERT_TRUE(
            sender->send(RemoteMessage::ImageBegin{"p", ImageFormat::jpeg, 1'000'000, false}));
        ASSERT_TRUE(sender->receive());
        for (std::int64_t index = 0; index < 3; ++index) {
            ASSERT_TRUE(sender->send(RemoteMessage::ImageChunk{"p", index, Bytes(65'536, 0x5a)}));
            ASSERT_TRUE(sender->receive());
        }
        // Gone without a word: the socket just closes.
    }
    expectPhoneStillWorks();
    expectSettlesAt(*harness, 1, baseline);
    harness->log().record([](OwnerLog& l) { EXPECT_TRUE(l.images.empty()); });
}

TEST_F(HostileInput, AFloodOfWrongPairingCodesLeavesTheRightOneUsable) {
    std::optional<PairingToken> token;
    harness->server().issuePairingToken(false, [&](std::optional<PairingToken> issued) {
        harness->log().record([&](OwnerLog&) { token = issued; });
    });
    ASSERT_TRUE(harness->log().waitFor([&](OwnerLog&) { return token.has_value(); }));

    for (int i = 0; i < 200; ++i) {
        auto guesser = TestPhone::connect(harness->port());
        ASSERT_TRUE(guesser);
        ASSERT_TRUE(guesser->send(RemoteMessage::Pair{std::string(40, char('0' + i % 10)), "x"}));
        const auto reply = guesser->receive();
        ASSERT_TRUE(reply && reply->is<RemoteMessage::Ack>());
        EXPECT_EQ(reply->as<RemoteMessage::Ack>()->error, "token_invalid");
        if (i % 50 == 0) expectPhoneStillWorks();
    }
    harness->log().record([](OwnerLog& l) { EXPECT_TRUE(l.approvals.empty()); });

    auto rightful = TestPhone::connect(harness->port());
    ASSERT_TRUE(rightful);
    ASSERT_TRUE(rightful->send(RemoteMessage::Pair{token->value, "Mine"}));
    EXPECT_TRUE(harness->log().waitFor([](OwnerLog& l) { return l.approvals.size() == 1; }));
    rightful.reset();
    expectSettlesAt(*harness, 1, baseline);
}

// Upgraded connections that never authenticate are evicted one by one as newer ones arrive. Each
// must give its descriptor back as soon as its close frame is out, not after the close grace, or a
// flood runs the process out of descriptors; and the flood is summarised in the log, not ignored.
TEST(ConnectionFlood, EvictedIdleConnectionsGiveTheirDescriptorsBackAtOnce) {
    constexpr std::size_t kConnectionLimit = 16;
    constexpr std::size_t kArrivals = 300;
    std::mutex mutex;
    std::vector<std::string> lines;
    setLogSink([&](LogLevel, std::string_view, std::string_view message) {
        std::lock_guard lock(mutex);
        lines.emplace_back(message);
    });
    std::size_t most = 0;
    const auto started = std::chrono::steady_clock::now();
    {
        ServerHarness harness(ServerHarness::Options{.configure = [](auto& configuration) {
            configuration.maxPendingConnections = kConnectionLimit;
            configuration.maxConnections = kConnectionLimit;
            // Far longer than the flood lasts: were the grace what frees evicted connections,
            // every one of them would still hold its descriptor at the end.
            configuration.closeGrace = 300s;
            configuration.helloTimeout = 120s;  // arrivals, not the hello time-out, close them
        }});
        ASSERT_NE(harness.start(), 0);
        std::vector<std::unique_ptr<TestPhone>> idle;  // open, upgraded, silent, never reading
        for (std::size_t i = 0; i < kArrivals; ++i) {
            auto phone = TestPhone::connect(harness.port());
            ASSERT_TRUE(phone) << "arrival " << i;
            idle.push_back(std::move(phone));
            most = std::max(most, serverSocketDescriptorCount(harness.port()));
        }
    }
    setLogSink(nullptr);
    const auto elapsed = std::chrono::steady_clock::now() - started;
    EXPECT_LT(most, 2 * kConnectionLimit + 20);
    RecordProperty("most_server_descriptors", static_cast<int>(most));

    // Every eviction is counted once: the first at once, the rest in summaries of at most one a
    // minute (the last written when the server went away), all naming the source address.
    std::size_t evictionLines = 0, evictions = 0;
    for (const auto& line : lines) {
        EXPECT_EQ(line.find("accepting was paused"), std::string::npos) << line;
        if (line.find("closed to make room") == std::string::npos) continue;
        ++evictionLines;
        evictions += std::stoul(line);
        EXPECT_NE(line.find(": from 127.0.0.1"), std::string::npos) << line;
    }
    EXPECT_EQ(evictions, kArrivals - kConnectionLimit);
    EXPECT_GE(evictionLines, 2u);
    EXPECT_LE(evictionLines, 2u + static_cast<std::size_t>(elapsed / 1min));
}

}  // namespace
}  // namespace kestrune::testing
