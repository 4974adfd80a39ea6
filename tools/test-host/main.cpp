// murrelo-test-host: runs the real phone-link server on 127.0.0.1 for process-level tests of
// phones (murrelo-phone, the Python wire client). Approvals are scripted, commands and pictures
// are recorded instead of typed, and a line protocol on standard input/output drives it:
//
//   out: listening PORT FINGERPRINT        once the server is up
//   out: link kestrune://pair?...          a pairing link (at start and after "token")
//   out: command {json}                    each command or picture received (passwords hashed)
//   out: acked ID | secret-refused ID | queued ID | devices N | stopped REASON
//   in:  token | push-text TEXT | push-secret TEXT | push-image FILE | devices | quit
//
// With --quiet the "command" lines are left out: benchmarks measure the link, and the application
// writes nothing per command either.

#include <charconv>
#include <future>
#include <iostream>
#include <mutex>
#include <string>

#include <boost/json.hpp>

#include "Kestrune/link/PairedDeviceStore.hpp"
#include "Kestrune/link/server/RemoteInputServer.hpp"
#include "Kestrune/phone/outbox/Outbox.hpp"
#include "KestruneRemoteKit/Protocol/PairingPayload.hpp"
#include "KestruneRemoteKit/Support/AtomicFile.hpp"
#include "KestruneRemoteKit/Support/Crypto.hpp"
#include "KestruneRemoteKit/Support/SerialQueue.hpp"
#include "app/PhoneLink.hpp"

namespace {

using namespace kestrune;
namespace json = boost::json;

constexpr const char* kUsage =
    R"(usage: murrelo-test-host --state DIR [--port P] [--deny] [--subscription-deadline-ms N] [--quiet]

Runs the phone-link server on 127.0.0.1 with its state (certificate, paired phones, outbox) in DIR.
--deny declines pairing requests; a text "fail:CODE" is answered with that error code.
--quiet prints no "command" line per command or picture (for benchmarks).
)";

std::mutex outputLock;

void say(const std::string& line) {
    std::lock_guard guard(outputLock);
    std::cout << line << std::endl;
}

std::string hashOf(std::string_view secret) {
    return sha256Hex(secret);
}

// What the executor "did": one JSON line, with passwords replaced by their hash.
std::string describeCommand(const RemoteMessage& command) {
    json::object record;
    record["type"] = std::string(command.typeName());
    if (const auto* text = command.as<RemoteMessage::Text>()) record["payload"] = text->payload;
    if (const auto* key = command.as<RemoteMessage::Key>()) record["payload"] = key->payload;
    if (const auto* hotkey = command.as<RemoteMessage::Hotkey>()) record["key"] = hotkey->key;
    if (const auto* secret = command.as<RemoteMessage::Secret>()) {
        record["sha256"] = hashOf(secret->payload);
        record["enter"] = secret->enter;
    }
    return json::serialize(record);
}

Result<void, RemoteError> scriptedOutcome(const RemoteMessage& command) {
    const auto* text = command.as<RemoteMessage::Text>();
    if (!text || !text->payload.starts_with("fail:")) return {};
    return remoteErrorFromRaw(std::string_view(text->payload).substr(5))
        .value_or(RemoteError::internal);
}

// The application's part, scripted: approvals answered as --deny says, commands and pictures
// written out instead of typed or saved, notices printed for the test to wait for.
class ScriptedOwner final : public RemoteInputServer::Owner {
  public:
    ScriptedOwner(bool deny, bool quiet) : deny_(deny), quiet_(quiet) {}

    void approvePairing(RemoteInputServer::PairingRequest request,
                        std::function<void(bool)> reply) override {
        say("approval " + request.deviceName);
        reply(!deny_);
    }
    void executeCommand(RemoteMessage command,
                        RemoteInputServer::CommandCompletion completion) override {
        if (!quiet_) say("command " + describeCommand(command));
        completion(scriptedOutcome(command));
    }
    void receiveImage(Bytes data, ImageFormat format, bool save,
                      RemoteInputServer::ImageCompletion completion) override {
        ImageOutcome outcome;
        if (save) {
            outcome.saved = "received." + std::string(rawValue(format));
            outcome.savedIn = "Test Pictures";
        }
        if (quiet_) return completion(outcome);
        json::object record;
        record["type"] = "image";
        record["format"] = std::string(rawValue(format));
        record["size"] = data.size();
        record["sha256"] =
            hashOf(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
        record["save"] = save;
        say("command " + json::serialize(record));
        completion(outcome);
    }
    void serverStopped(const RemoteInputServer::StopReason& reason) override {
        say("stopped " + (reason.message.empty() ? std::string("requested") : reason.message));
    }
    void pushAcknowledged(const std::string& id) override { say("acked " + id); }
    void secretRefused(const std::string& id) override { say("secret-refused " + id); }

  private:
    const bool deny_;
    const bool quiet_;
};

std::optional<std::int64_t> number(const std::string& text) {
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

}  // namespace

int main(int argc, char** argv) {
    std::optional<std::filesystem::path> state;
    std::optional<std::uint16_t> port;
    bool deny = false;
    bool quiet = false;
    std::optional<Duration> subscriptionDeadline;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const bool hasValue = i + 1 < argc;
        if (argument == "--state" && hasValue) {
            state = argv[++i];
        } else if (argument == "--port" && hasValue) {
            const auto value = number(argv[++i]);
            if (!value || *value < 0 || *value > 65535) return std::cerr << kUsage, 2;
            port = static_cast<std::uint16_t>(*value);
        } else if (argument == "--deny") {
            deny = true;
        } else if (argument == "--quiet") {
            quiet = true;
        } else if (argument == "--subscription-deadline-ms" && hasValue) {
            const auto value = number(argv[++i]);
            if (!value || *value <= 0) return std::cerr << kUsage, 2;
            subscriptionDeadline = std::chrono::milliseconds(*value);
        } else {
            std::cerr << kUsage;
            return argument == "--help" ? 0 : 2;
        }
    }
    if (!state) return std::cerr << kUsage, 2;

    SerialQueue owner("Kestrune.TestHost");
    app::PhoneLink::Options options{
        .directory = *state,
        .loopbackOnly = true,
        .preferredPort = port,
        .advertise = false,  // tests never announce anything on the network
        .idleTimeout = std::nullopt,
        .subscriptionDeadline = subscriptionDeadline,
    };
    const auto script = std::make_shared<ScriptedOwner>(deny, quiet);
    auto made = app::PhoneLink::make(options, script, owner);
    if (!made) {
        std::cerr << "murrelo-test-host: " << made.error() << "\n";
        return 1;
    }
    const std::unique_ptr<app::PhoneLink> link = std::move(made).value();
    const std::string& fingerprint = link->fingerprint();
    RemoteInputServer& server = link->server();
    const auto& devices = link->devices();
    const auto& outbox = link->outbox();

    std::promise<RemoteInputServer::StartResult> started;
    server.start([&](RemoteInputServer::StartResult result) { started.set_value(result); });
    const auto result = started.get_future().get();
    if (!result) {
        std::cerr << "murrelo-test-host: " << result.error().description() << "\n";
        return 1;
    }
    const std::uint16_t listening = result.value();
    say("listening " + std::to_string(listening) + " " + fingerprint);

    auto issueLink = [&] {
        std::promise<std::optional<PairingToken>> issued;
        server.issuePairingToken(
            true, [&](std::optional<PairingToken> token) { issued.set_value(token); });
        const auto token = issued.get_future().get();
        if (!token) return say("error no pairing code");
        say("link " + PairingPayload("127.0.0.1", listening, fingerprint, token->value, "Test Host")
                          .encoded());
    };
    auto enqueue = [&](Outbox::Content content) {
        std::vector<Uuid> phones;
        for (const auto& device : devices->devices()) phones.push_back(device.id);
        auto item = outbox->enqueue(std::move(content), phones);
        say(item ? "queued " + item.value().id : std::string("error nothing to push to"));
    };
    issueLink();

    std::string line;
    while (std::getline(std::cin, line)) {
        const auto space = line.find(' ');
        const std::string verb = line.substr(0, space);
        const std::string rest = space == std::string::npos ? "" : line.substr(space + 1);
        if (verb == "quit") break;
        if (verb == "token") {
            issueLink();
        } else if (verb == "devices") {
            say("devices " + std::to_string(devices->devices().size()));
        } else if (verb == "push-text") {
            enqueue(Outbox::Content::text(rest));
        } else if (verb == "push-secret") {
            enqueue(Outbox::Content::secret(rest));
        } else if (verb == "push-image") {
            const auto bytes = readWholeFile(rest);
            if (!bytes) {
                say("error cannot read " + rest);
                continue;
            }
            const auto format =
                bytes->starts_with("\x89PNG") ? ImageFormat::png : ImageFormat::jpeg;
            enqueue(Outbox::Content::image(Bytes(bytes->begin(), bytes->end()), format));
        } else if (!line.empty()) {
            say("error unknown command " + verb);
        }
    }
    server.stop();
    return 0;
}
