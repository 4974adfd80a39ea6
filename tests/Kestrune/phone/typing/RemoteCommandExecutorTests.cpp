#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Kestrune/phone/typing/RemoteCommandExecutor.hpp"
#include "KestruneRemoteKit/Support/ManualMainQueue.hpp"
#include "tests/support/ResultTesting.hpp"

namespace kestrune {
namespace {

using Failure = DirectTextInjector::Failure;
using Outcome = std::optional<RemoteError>;

// The executor wired to a real injector on a manual queue; the rest of the platform is recorded.
struct Harness {
    ManualMainQueue queue;
    std::vector<std::string> typed;
    std::vector<std::uint16_t> keys;
    std::vector<std::string> pasted;
    bool trusted = true;
    bool usePaste = false;
    bool passwordField = true;
    int passwordChecks = 0;
    std::function<void()> duringPasswordCheck;
    Result<void, RemoteError> pasteResult;
    DirectTextInjector injector{queue, [this](const std::string& s) { typed.push_back(s); },
                                [this](std::uint16_t k) { keys.push_back(k); }};
    RemoteCommandExecutor executor{RemoteCommandExecutor::Operations{
        [this] { return trusted; },
        [this] { return usePaste; },
        [this](std::string text, DirectTextInjector::Completion done) {
            injector.send(std::move(text), std::nullopt, std::move(done));
        },
        [this](std::string text, RemoteCommandExecutor::Done done) {
            pasted.push_back(text);
            done(pasteResult);
        },
        [this](std::uint16_t code, DirectTextInjector::Completion done) {
            injector.press(code, std::nullopt, std::move(done));
        },
        [this](std::function<void(bool)> completion) {
            ++passwordChecks;
            if (duringPasswordCheck) duringPasswordCheck();
            completion(passwordField);
        },
        [this] { return SecretInjection::boundTo(injector); },
    }};

    std::vector<Outcome> outcomes;
    void run(RemoteMessage message) {
        executor.execute(message, [this](Result<void, RemoteError> o) {
            outcomes.push_back(testing::failureOf(o));
        });
        queue.advance(std::chrono::seconds(10));
    }
    Outcome last() const { return outcomes.back(); }
};

TEST(RemoteCommandExecutor, MessagesItDoesNotExecute) {
    Harness h;
    h.run(RemoteMessage::Hotkey{"c", {RemoteMessage::Modifier::cmd}});
    EXPECT_EQ(h.last(), RemoteError::unsupported);
    h.run(RemoteMessage::Hello{"s"});
    EXPECT_EQ(h.last(), RemoteError::badMessage);
    h.run(RemoteMessage::Heartbeat{1});
    EXPECT_EQ(h.last(), RemoteError::badMessage);
    h.run(RemoteMessage::ImageEnd{"x"});
    EXPECT_EQ(h.last(), RemoteError::badMessage);
    EXPECT_EQ(h.outcomes.size(), 4u);
}

TEST(RemoteCommandExecutor, KeysMatchExactlyBeforeThePermissionCheck) {
    Harness h;
    h.trusted = false;
    h.run(RemoteMessage::Key{"return"});
    EXPECT_EQ(h.last(), RemoteError::unsupported);
    h.run(RemoteMessage::Key{"ESCAPE"});
    EXPECT_EQ(h.last(), RemoteError::unsupported);
    h.run(RemoteMessage::Key{"RETURN"});
    EXPECT_EQ(h.last(), RemoteError::accessibilityMissing);
    h.trusted = true;
    h.run(RemoteMessage::Key{"RETURN"});
    h.run(RemoteMessage::Key{"TAB"});
    EXPECT_EQ(h.keys, (std::vector<std::uint16_t>{36, 48}));
    EXPECT_EQ(h.last(), std::nullopt);
}

TEST(RemoteCommandExecutor, TextIsCleanedAndTypedOrPasted) {
    Harness h;
    h.run(RemoteMessage::Text{"a\r\nb\tc"});
    EXPECT_EQ(h.typed, std::vector<std::string>{"a b c"});
    EXPECT_EQ(h.last(), std::nullopt);
    h.run(RemoteMessage::Text{"\n\r\n"});
    EXPECT_EQ(h.last(), RemoteError::textEmpty);
    h.run(RemoteMessage::Text{std::string(4097, 'x')});
    EXPECT_EQ(h.last(), RemoteError::textTooLong);

    h.usePaste = true;
    h.pasteResult = RemoteError::busy;
    h.run(RemoteMessage::Text{"  hi \n"});
    EXPECT_EQ(h.pasted, std::vector<std::string>{"hi"});
    EXPECT_EQ(h.last(), RemoteError::busy);
    EXPECT_EQ(h.typed.size(), 1u);

    h.trusted = false;
    h.run(RemoteMessage::Text{"x"});
    EXPECT_EQ(h.last(), RemoteError::accessibilityMissing);
}

TEST(RemoteCommandExecutor, SecretIsFilteredAndTypedOnlyIntoPasswordFields) {
    Harness h;
    h.run(RemoteMessage::Secret{"pa\tss\n", false});
    EXPECT_EQ(h.typed, std::vector<std::string>{"pass"});
    EXPECT_TRUE(h.keys.empty());
    EXPECT_EQ(h.last(), std::nullopt);

    h.run(RemoteMessage::Secret{"pw", true});
    EXPECT_EQ(h.keys, std::vector<std::uint16_t>{36});

    h.passwordField = false;
    h.run(RemoteMessage::Secret{"other", true});
    EXPECT_EQ(h.last(), RemoteError::notPasswordField);
    EXPECT_EQ(h.typed.size(), 2u);
    EXPECT_EQ(h.keys.size(), 1u);
}

TEST(RemoteCommandExecutor, SecretLimitsComeBeforeTheFocusCheck) {
    Harness h;
    h.passwordField = false;
    h.run(RemoteMessage::Secret{std::string(1025, 'x'), false});
    EXPECT_EQ(h.last(), RemoteError::textTooLong);
    h.run(RemoteMessage::Secret{"\t\r\n\u2028", false});
    EXPECT_EQ(h.last(), RemoteError::textEmpty);
    h.trusted = false;
    h.run(RemoteMessage::Secret{"x", false});
    EXPECT_EQ(h.last(), RemoteError::accessibilityMissing);
    EXPECT_EQ(h.passwordChecks, 0);
}

TEST(RemoteCommandExecutor, CancellationDuringThePasswordCheckCancelsTypingAndReturn) {
    Harness h;
    h.duringPasswordCheck = [&h] { h.injector.bumpGeneration(); };
    h.run(RemoteMessage::Secret{"secret", true});
    EXPECT_EQ(h.last(), RemoteError::cancelled);
    EXPECT_TRUE(h.typed.empty());
    EXPECT_TRUE(h.keys.empty());
}

TEST(RemoteCommandExecutor, ReturnFollowsOnlySuccessfulSecretTyping) {
    Harness h;
    // A password longer than one chunk, cancelled after its first chunk: no Return.
    h.executor.execute(
        RemoteMessage::Secret{std::string(30, 'p'), true},
        [&h](Result<void, RemoteError> o) { h.outcomes.push_back(testing::failureOf(o)); });
    h.queue.runUntilIdle();
    ASSERT_EQ(h.typed.size(), 1u);
    h.injector.bumpGeneration();
    h.queue.advance(std::chrono::seconds(1));
    EXPECT_EQ(h.last(), RemoteError::cancelled);
    EXPECT_TRUE(h.keys.empty());
}

}  // namespace
}  // namespace kestrune
