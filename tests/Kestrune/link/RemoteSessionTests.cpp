#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/SessionTestSupport.hpp"

namespace kestrune {
namespace {

using test::ackError;
using test::ackOk;
using test::closeEffect;
using test::frame;
using test::refusal;
using Effect = RemoteSession::Effect;
using Effects = RemoteSession::Effects;
using State = RemoteSession::State;
using M = RemoteMessage;

Bytes bytes(std::size_t count, std::uint8_t fill = 0xab) {
    return Bytes(count, fill);
}

class RemoteSessionTest : public ::testing::Test {
  protected:
    test::FakeSessionContext context;

    // A session authenticated with `hello` for a freshly paired device.
    RemoteSession authorizedSession(Uuid* deviceID = nullptr) {
        const Uuid id = context.addDevice("phone-secret");
        if (deviceID) *deviceID = id;
        RemoteSession session;
        EXPECT_EQ(session.receive(frame(M::Hello{"phone-secret"}), context), Effects{ackOk()});
        return session;
    }

    RemoteSession subscribedSession(Uuid* deviceID = nullptr) {
        RemoteSession session = authorizedSession(deviceID);
        EXPECT_EQ(session.receive(frame(M::Subscribe{true}), context).size(), 2u);
        return session;
    }

    RemoteSession awaitingApprovalSession(const std::string& name = "Pixel") {
        RemoteSession session;
        const auto token = context.issueToken();
        EXPECT_EQ(session.receive(frame(M::Pair{token, name}), context),
                  Effects{Effect::RequestApproval{name}});
        return session;
    }
};

// --- before authentication ---------------------------------------------------------------------

TEST_F(RemoteSessionTest, AnythingButPairOrHelloBeforeAuthenticationIsUnauthenticatedAndCloses) {
    const std::vector<std::pair<const char*, std::string>> frames = {
        {"text", frame(M::Text{"hello"})},
        {"subscribe", frame(M::Subscribe{false})},
        {"heartbeat", frame(M::Heartbeat{1})},
        {"image_begin", frame(M::ImageBegin{"a", ImageFormat::png, 10, false})},
        {"ack", frame(M::Ack{true, {}, {}, {}})},
        {"not JSON", "hello there"},
        {"empty frame", ""},
        {"wrong version", R"({"v":2,"type":"hello","secret":"phone-secret"})"},
        {"hello without secret", R"({"v":1,"type":"hello"})"},
        {"pair without name", R"({"v":1,"type":"pair","token":"abc"})"},
    };
    context.addDevice("phone-secret");
    for (const auto& [label, bytes] : frames) {
        SCOPED_TRACE(label);
        RemoteSession session;
        EXPECT_EQ(session.receive(bytes, context), refusal(RemoteError::unauthenticated));
        EXPECT_EQ(session.state(), State{State::AwaitingAuth{}});
    }
}

TEST_F(RemoteSessionTest, HelloAuthorizesOnlyAPairedSecret) {
    const Uuid id = context.addDevice("phone-secret");
    RemoteSession good;
    EXPECT_EQ(good.receive(frame(M::Hello{"phone-secret"}), context), Effects{ackOk()});
    EXPECT_EQ(good.state(), State{State::Authorized{id}});

    for (const std::string secret : {"PHONE-SECRET", "phone-secre", "", "phone-secret "}) {
        SCOPED_TRACE(secret);
        RemoteSession bad;
        EXPECT_EQ(bad.receive(frame(M::Hello{secret}), context),
                  refusal(RemoteError::unknownDevice));
        EXPECT_EQ(bad.state(), State{State::AwaitingAuth{}});
    }
}

TEST_F(RemoteSessionTest, PairingCodeFailuresMapToTheirCodes) {
    RemoteSession noCode;
    EXPECT_EQ(noCode.receive(frame(M::Pair{"0123", "Pixel"}), context),
              refusal(RemoteError::tokenInvalid));

    const auto token = context.issueToken();
    RemoteSession wrong;
    EXPECT_EQ(wrong.receive(frame(M::Pair{token + "0", "Pixel"}), context),
              refusal(RemoteError::tokenInvalid));

    context.clock += kPairingTokenLifetime;
    RemoteSession late;
    EXPECT_EQ(late.receive(frame(M::Pair{token, "Pixel"}), context),
              refusal(RemoteError::tokenExpired));
    EXPECT_EQ(late.state(), State{State::AwaitingAuth{}});
    EXPECT_TRUE(context.registeredNames.empty());
}

TEST_F(RemoteSessionTest, PairingCodeIsSpentBeforeTheUserAnswers) {
    const auto token = context.issueToken();
    RemoteSession first;
    EXPECT_EQ(first.receive(frame(M::Pair{token, "  Pixel\n"}), context),
              Effects{Effect::RequestApproval{"Pixel"}});
    EXPECT_EQ(first.state(), State{State::AwaitingApproval{"Pixel"}});

    RemoteSession second;
    EXPECT_EQ(second.receive(frame(M::Pair{token, "Other"}), context),
              refusal(RemoteError::tokenInvalid));

    // Declining does not give the code back either.
    EXPECT_EQ(first.resolveApproval(false, context), refusal(RemoteError::pairingRejected));
    RemoteSession third;
    EXPECT_EQ(third.receive(frame(M::Pair{token, "Pixel"}), context),
              refusal(RemoteError::tokenInvalid));
}

// --- waiting for approval ----------------------------------------------------------------------

TEST_F(RemoteSessionTest, EveryFrameWhileAwaitingApprovalIsRefusedWithoutClosing) {
    RemoteSession session = awaitingApprovalSession();
    context.addDevice("phone-secret");
    for (const std::string& bytes :
         {frame(M::Text{"x"}), frame(M::Hello{"phone-secret"}), frame(M::Pair{"t", "n"}),
          std::string("garbage"), std::string()}) {
        EXPECT_EQ(session.receive(bytes, context),
                  Effects{ackError(RemoteError::awaitingApproval)});
    }
    EXPECT_EQ(session.state(), State{State::AwaitingApproval{"Pixel"}});

    const auto effects = session.resolveApproval(true, context);
    ASSERT_EQ(context.registeredNames, std::vector<std::string>{"Pixel"});
    const Uuid newID = context.secrets.at("secret-1");
    EXPECT_EQ(effects, Effects{Effect::Send{M::Paired{"secret-1"}}});
    EXPECT_EQ(session.state(), State{State::Authorized{newID}});
    EXPECT_EQ(session.receive(frame(M::Text{"hi"}), context),
              Effects{Effect::Execute{M::Text{"hi"}}});
}

TEST_F(RemoteSessionTest, ApprovalOutcomesThatEndTheSession) {
    {
        SCOPED_TRACE("declined");
        RemoteSession session = awaitingApprovalSession();
        EXPECT_EQ(session.resolveApproval(false, context), refusal(RemoteError::pairingRejected));
        EXPECT_EQ(session.state(), State{State::Closed{}});
        EXPECT_TRUE(context.registeredNames.empty());
    }
    {
        SCOPED_TRACE("registration fails");
        RemoteSession session = awaitingApprovalSession();
        context.registrationFails = true;
        EXPECT_EQ(session.resolveApproval(true, context), refusal(RemoteError::internal));
        EXPECT_EQ(session.state(), State{State::Closed{}});
        EXPECT_TRUE(session.receive(frame(M::Text{"x"}), context).empty());
    }
}

TEST_F(RemoteSessionTest, ApprovalAnswersOutsideAwaitingApprovalAreIgnored) {
    RemoteSession fresh;
    EXPECT_TRUE(fresh.resolveApproval(true, context).empty());
    RemoteSession authorized = authorizedSession();
    EXPECT_TRUE(authorized.resolveApproval(true, context).empty());
    RemoteSession approved = awaitingApprovalSession();
    EXPECT_EQ(approved.resolveApproval(true, context).size(), 1u);
    // A second answer (a duplicate reply) must not register the phone twice.
    EXPECT_TRUE(approved.resolveApproval(true, context).empty());
    EXPECT_EQ(context.registeredNames.size(), 1u);
}

// --- authorized, ordinary connection -----------------------------------------------------------

TEST_F(RemoteSessionTest, CommandsAreHandedOutUnchanged) {
    RemoteSession session = authorizedSession();
    const std::vector<M> commands = {
        M::Text{"héllo\nworld"},
        M::Key{"RETURN"},
        M::Key{"F13"},
        M::Hotkey{"v", {M::Modifier::cmd, M::Modifier::shift}},
        M::Secret{"hunter2", true},
    };
    for (const auto& command : commands) {
        SCOPED_TRACE(command.typeName());
        EXPECT_EQ(session.receive(frame(command), context), Effects{Effect::Execute{command}});
    }
}

TEST_F(RemoteSessionTest, MessagesNotValidOnAnOrdinaryConnectionAreBadMessageWithoutClosing) {
    RemoteSession session = authorizedSession();
    const std::vector<std::pair<const char*, std::string>> frames = {
        {"hello again", frame(M::Hello{"phone-secret"})},
        {"pair", frame(M::Pair{"t", "n"})},
        {"heartbeat before subscribing", frame(M::Heartbeat{7})},
        {"push ack before subscribing", frame(M::PushAck{"item"})},
        {"ack", frame(M::Ack{true, {}, {}, {}})},
        {"paired", frame(M::Paired{"s"})},
        {"not JSON", "{"},
        {"empty", ""},
        {"unknown type", R"({"v":1,"type":"teleport"})"},
    };
    for (const auto& [label, bytes] : frames) {
        SCOPED_TRACE(label);
        EXPECT_EQ(session.receive(bytes, context), Effects{ackError(RemoteError::badMessage)});
    }
    EXPECT_TRUE(session.state().is<State::Authorized>());
    EXPECT_FALSE(session.isSubscription());
}

TEST_F(RemoteSessionTest, RemovedDeviceIsToldAtItsNextFrame) {
    Uuid id;
    RemoteSession session = authorizedSession(&id);
    context.paired.erase(id);
    for (const std::string& bytes : {frame(M::Text{"x"}), std::string("garbage")}) {
        EXPECT_EQ(session.receive(bytes, context), refusal(RemoteError::unknownDevice));
    }
    EXPECT_EQ(session.state(), State{State::Authorized{id}});

    RemoteSession subscription = subscribedSession(&id);
    context.paired.erase(id);
    EXPECT_EQ(subscription.receive(frame(M::Heartbeat{1}), context),
              refusal(RemoteError::unknownDevice));
}

// --- pictures ----------------------------------------------------------------------------------

TEST_F(RemoteSessionTest, AnnouncedSizeLimit) {
    RemoteSession session = authorizedSession();
    EXPECT_EQ(session.receive(frame(M::ImageBegin{"a", ImageFormat::jpeg, kMaxImageBytes, true}),
                              context),
              Effects{ackOk()});
    ASSERT_TRUE(session.pendingImage());
    EXPECT_EQ(session.pendingImage()->size, kMaxImageBytes);

    EXPECT_EQ(session.receive(
                  frame(M::ImageBegin{"b", ImageFormat::jpeg, kMaxImageBytes + 1, true}), context),
              Effects{ackError(RemoteError::imageTooLarge)});
    // The refused announcement also drops the picture that was in progress.
    EXPECT_FALSE(session.pendingImage());
    EXPECT_EQ(session.receive(frame(M::ImageChunk{"a", 0, bytes(1)}), context),
              Effects{ackError(RemoteError::badMessage)});
}

TEST_F(RemoteSessionTest, ChunksInOrderAssembleThePicture) {
    RemoteSession session = authorizedSession();
    EXPECT_EQ(session.receive(frame(M::ImageBegin{"pic", ImageFormat::heic, 7, true}), context),
              Effects{ackOk()});
    EXPECT_EQ(session.receive(frame(M::ImageChunk{"pic", 0, {1, 2, 3}}), context),
              Effects{ackOk()});
    EXPECT_EQ(session.receive(frame(M::ImageChunk{"pic", 1, {}}), context), Effects{ackOk()});
    EXPECT_EQ(session.pendingImage()->data.size(), 3u);
    EXPECT_EQ(session.pendingImage()->nextIndex, 2);
    EXPECT_EQ(session.receive(frame(M::ImageChunk{"pic", 2, {4, 5, 6, 7}}), context),
              Effects{ackOk()});
    const Effects expected{Effect::ReceiveImage{{1, 2, 3, 4, 5, 6, 7}, ImageFormat::heic, true}};
    EXPECT_EQ(session.receive(frame(M::ImageEnd{"pic"}), context), expected);
    EXPECT_FALSE(session.pendingImage());
    // The picture was handed out once; a second end has nothing to finish.
    EXPECT_EQ(session.receive(frame(M::ImageEnd{"pic"}), context),
              Effects{ackError(RemoteError::badMessage)});
}

TEST_F(RemoteSessionTest, RefusedChunksAndEndsDropThePicture) {
    struct Case {
        const char* label;
        std::vector<M> before;  // after image_begin("pic", size 4)
        M refused;
    };
    const std::vector<Case> cases = {
        {"repeated index",
         {M::ImageChunk{"pic", 0, {1}}, M::ImageChunk{"pic", 1, {2}}},
         M::ImageChunk{"pic", 1, {3}}},
        {"skipped index", {M::ImageChunk{"pic", 0, {1}}}, M::ImageChunk{"pic", 2, {2}}},
        {"first index not zero", {}, M::ImageChunk{"pic", 1, {1}}},
        {"other picture's chunk", {}, M::ImageChunk{"other", 0, {1}}},
        {"beyond the announced size",
         {M::ImageChunk{"pic", 0, {1, 2, 3}}},
         M::ImageChunk{"pic", 1, {4, 5}}},
        {"end before all bytes", {M::ImageChunk{"pic", 0, {1, 2, 3}}}, M::ImageEnd{"pic"}},
        {"end of another picture", {M::ImageChunk{"pic", 0, {1, 2, 3, 4}}}, M::ImageEnd{"x"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        RemoteSession session = authorizedSession();
        ASSERT_EQ(session.receive(frame(M::ImageBegin{"pic", ImageFormat::png, 4, false}), context),
                  Effects{ackOk()});
        for (const auto& message : c.before) {
            ASSERT_EQ(session.receive(frame(message), context), Effects{ackOk()});
        }
        EXPECT_EQ(session.receive(frame(c.refused), context),
                  Effects{ackError(RemoteError::badMessage)});
        EXPECT_FALSE(session.pendingImage());
        // Nothing is pending any more, so even the chunk that would have been next is refused.
        EXPECT_EQ(session.receive(frame(M::ImageChunk{"pic", 0, {1}}), context),
                  Effects{ackError(RemoteError::badMessage)});
        EXPECT_TRUE(session.state().is<State::Authorized>());
    }
}

TEST_F(RemoteSessionTest, NewAnnouncementReplacesAPictureInProgress) {
    RemoteSession session = authorizedSession();
    session.receive(frame(M::ImageBegin{"one", ImageFormat::png, 2, false}), context);
    session.receive(frame(M::ImageChunk{"one", 0, {9}}), context);
    EXPECT_EQ(session.receive(frame(M::ImageBegin{"two", ImageFormat::jpeg, 1, false}), context),
              Effects{ackOk()});
    EXPECT_EQ(session.receive(frame(M::ImageChunk{"one", 1, {9}}), context),
              Effects{ackError(RemoteError::badMessage)});
    session.receive(frame(M::ImageBegin{"two", ImageFormat::jpeg, 1, false}), context);
    EXPECT_EQ(session.receive(frame(M::ImageChunk{"two", 0, {5}}), context), Effects{ackOk()});
    const Effects expected{Effect::ReceiveImage{{5}, ImageFormat::jpeg, false}};
    EXPECT_EQ(session.receive(frame(M::ImageEnd{"two"}), context), expected);
}

// --- subscription ------------------------------------------------------------------------------

TEST_F(RemoteSessionTest, SubscribeTurnsTheConnectionIntoAPushChannel) {
    Uuid id;
    RemoteSession session = authorizedSession(&id);
    EXPECT_EQ(session.receive(frame(M::Subscribe{true}), context),
              (Effects{ackOk(), Effect::Subscribed{id}}));
    EXPECT_TRUE(session.isSubscription());
    EXPECT_TRUE(session.acceptsSecret());

    EXPECT_EQ(session.receive(frame(M::Heartbeat{7}), context),
              Effects{Effect::Send{M::HeartbeatAck{7}}});
    EXPECT_EQ(session.receive(frame(M::PushAck{"item-1"}), context),
              Effects{Effect::PushAcknowledged{"item-1"}});
    for (const std::string& bytes :
         {frame(M::Text{"x"}), frame(M::Subscribe{false}),
          frame(M::ImageBegin{"a", ImageFormat::png, 1, false}), std::string("garbage")}) {
        EXPECT_EQ(session.receive(bytes, context), Effects{ackError(RemoteError::badMessage)});
    }
    // The flags stay as announced by the first subscribe.
    EXPECT_TRUE(session.isSubscription());
    EXPECT_TRUE(session.acceptsSecret());
}

// --- command outcomes --------------------------------------------------------------------------

TEST_F(RemoteSessionTest, EveryErrorOutcomeIsAnAckThatClosesExactlyWhenTheCodeSaysSo) {
    for (const RemoteError error : kAllRemoteErrors) {
        SCOPED_TRACE(std::string(rawValue(error)));
        RemoteSession session = authorizedSession();
        EXPECT_EQ(session.executionFinished({error, "file.png", "Downloads"}), refusal(error));
        EXPECT_EQ(session.state().is<State::Closed>(), closesConnection(error));
    }
}

TEST_F(RemoteSessionTest, SuccessfulOutcomeCarriesWhereThePictureWasSaved) {
    RemoteSession session = authorizedSession();
    const Effects saved{Effect::Send{M::Ack{true, {}, "photo.jpg", "Pictures"}}};
    EXPECT_EQ(session.executionFinished({std::nullopt, "photo.jpg", "Pictures"}), saved);
    EXPECT_EQ(session.executionFinished({}), Effects{ackOk()});
}

TEST_F(RemoteSessionTest, InternalOutcomeEndsEverything) {
    RemoteSession session = authorizedSession();
    EXPECT_EQ(session.executionFinished({RemoteError::internal, std::nullopt, std::nullopt}),
              refusal(RemoteError::internal));
    EXPECT_TRUE(session.receive(frame(M::Text{"x"}), context).empty());
    EXPECT_TRUE(session.executionFinished({}).empty());
    EXPECT_TRUE(session.resolveApproval(true, context).empty());
}

TEST_F(RemoteSessionTest, OutcomesOutsideAuthorizedAreIgnored) {
    RemoteSession fresh;
    EXPECT_TRUE(fresh.executionFinished({}).empty());
    RemoteSession waiting = awaitingApprovalSession();
    EXPECT_TRUE(
        waiting.executionFinished({RemoteError::internal, std::nullopt, std::nullopt}).empty());
    EXPECT_EQ(waiting.state(), State{State::AwaitingApproval{"Pixel"}});
}

TEST_F(RemoteSessionTest, OwnerCloseSilencesTheSession) {
    RemoteSession session = authorizedSession();
    session.receive(frame(M::ImageBegin{"a", ImageFormat::png, 5, false}), context);
    session.close();
    EXPECT_EQ(session.state(), State{State::Closed{}});
    EXPECT_FALSE(session.pendingImage());
    EXPECT_TRUE(session.receive(frame(M::ImageChunk{"a", 0, {1}}), context).empty());
    EXPECT_TRUE(session.executionFinished({RemoteError::busy, std::nullopt, std::nullopt}).empty());
}

}  // namespace
}  // namespace kestrune
