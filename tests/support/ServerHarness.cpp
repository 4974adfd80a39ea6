#include "tests/support/ServerHarness.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <set>
#include <sstream>

namespace kestrune::testing {

const TLSIdentityStore::Loaded& testIdentity() {
    static const auto loaded = [] {
        static TemporaryDirectory directory{"server-test"};
        TLSIdentityStore store(directory.path());
        if (const auto generated = store.generate(); !generated) {
            ADD_FAILURE() << "cannot make a test identity: " << describe(generated.error());
            std::abort();
        }
        auto result = store.load();
        if (!result) std::abort();
        return result.value();
    }();
    return loaded;
}

RemoteInputServer::Configuration ServerHarness::shortConfiguration() {
    RemoteInputServer::Configuration configuration{.identity = testIdentity().identity};
    configuration.loopbackOnly = true;
    configuration.closeGrace = 500ms;
    configuration.portRetryDelay = 20ms;
    return configuration;
}

// Records every request and notice, noting any that arrives off the owner's queue; commands either
// succeed at once or wait for the test.
class ServerHarness::RecordingOwner final : public RemoteInputServer::Owner {
  public:
    RecordingOwner(std::shared_ptr<OwnerLog> log, SerialQueue& queue, bool holdCommands)
        : log_(std::move(log)), queue_(queue), holdCommands_(holdCommands) {}

    void approvePairing(RemoteInputServer::PairingRequest request,
                        std::function<void(bool)> reply) override {
        record([&](OwnerLog& l) {
            l.approvals.push_back(request);
            l.approvalReplies.push_back(reply);
        });
    }
    void executeCommand(RemoteMessage command,
                        RemoteInputServer::CommandCompletion completion) override {
        record([&](OwnerLog& l) {
            l.commands.push_back(command);
            if (holdCommands_) l.heldCommands.push_back(completion);
        });
        if (!holdCommands_) completion({});
    }
    void receiveImage(Bytes data, ImageFormat, bool,
                      RemoteInputServer::ImageCompletion completion) override {
        record([&](OwnerLog& l) { l.images.push_back(std::move(data)); });
        completion({std::nullopt, std::string("picture.jpeg"), std::string("Pictures")});
    }
    void serverStopped(const RemoteInputServer::StopReason& reason) override {
        record([&](OwnerLog& l) { l.stops.push_back(reason); });
    }
    void approvalWithdrawn(const Uuid& id) override {
        record([&](OwnerLog& l) { l.withdrawnApprovals.push_back(id); });
    }
    void pushAcknowledged(const std::string& id) override {
        record([&](OwnerLog& l) { l.pushAcknowledged.push_back(id); });
    }
    void secretRefused(const std::string& id) override {
        record([&](OwnerLog& l) { l.secretsRefused.push_back(id); });
    }

  private:
    template <typename Change>
    void record(Change change) {
        log_->record([&](OwnerLog& l) {
            l.wrongThread |= !queue_.isCurrent();
            change(l);
        });
    }

    std::shared_ptr<OwnerLog> log_;
    SerialQueue& queue_;
    const bool holdCommands_;
};

ServerHarness::ServerHarness() : ServerHarness(Options{}) {}

ServerHarness::ServerHarness(Options options)
    : options_(std::move(options)),
      ownerQueue_(std::make_unique<SerialQueue>("Kestrune.TestOwner")),
      log_(std::make_shared<OwnerLog>()) {
    devices_ = std::make_shared<PairedDeviceStore>(directory_.path() / "devices.json");
    outbox_ = Outbox::create(directory_.path() / "outbox", *ownerQueue_);
    auto configuration = shortConfiguration();
    configuration.preferredPort = options_.preferredPort;
    if (options_.configure) options_.configure(configuration);

    owner_ = std::make_shared<RecordingOwner>(log_, *ownerQueue_, options_.holdCommands);
    RemoteInputServer::Dependencies dependencies{
        .devices = devices_,
        .outbox = outbox_,
        .ownerQueue = *ownerQueue_,
        .owner = owner_,
        .advertiser = options_.advertiser,
    };
    if (options_.now) dependencies.now = options_.now;
    server_ =
        std::make_unique<RemoteInputServer>(std::move(configuration), std::move(dependencies));
    outbox_->setOnChange([server = server_.get()] { server->outboxDidChange(); });
}

ServerHarness::~ServerHarness() {
    outbox_->setOnChange(nullptr);
    server_.reset();
    ownerQueue_.reset();
}

void ServerHarness::releaseOwner() {
    owner_.reset();
}

RemoteInputServer::StartResult ServerHarness::startAndWait() {
    std::size_t count = 0;
    log_->record([&](OwnerLog& l) { count = l.starts.size(); });
    server_->start([log = log_](RemoteInputServer::StartResult result) {
        log->record([&](OwnerLog& l) { l.starts.push_back(result); });
    });
    std::optional<RemoteInputServer::StartResult> result;
    const bool done = log_->waitFor(
        [&](OwnerLog& l) {
            if (l.starts.size() <= count) return false;
            result = l.starts[count];
            return true;
        },
        10s);
    if (!done) return RemoteInputServer::StartFailure{"start timed out"};
    if (result->ok()) port_ = result->value();
    return *result;
}

std::uint16_t ServerHarness::start() {
    const auto result = startAndWait();
    return result.ok() ? result.value() : 0;
}

std::pair<Uuid, std::string> ServerHarness::pairDevice(const std::string& name) {
    auto registration = devices_->registerDevice(name, std::chrono::system_clock::now());
    if (!registration) {
        ADD_FAILURE() << "cannot register a device";
        return {};
    }
    return {registration.value().device.id, registration.value().secret};
}

void ServerHarness::finishHeldCommand(Result<void, RemoteError> outcome) {
    std::function<void(Result<void, RemoteError>)> completion;
    log_->record([&](OwnerLog& l) {
        if (l.heldCommands.empty()) return;
        completion = l.heldCommands.front();
        l.heldCommands.erase(l.heldCommands.begin());
    });
    if (completion) completion(outcome);
}

std::size_t openDescriptorCount() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

std::size_t serverSocketDescriptorCount(std::uint16_t port) {
    // /proc/net/tcp rows: "sl local_address rem_address st ... uid timeout inode", addresses as
    // HEXADDR:HEXPORT.
    std::set<std::string> inodes;
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        std::ifstream rows(table);
        std::string row;
        std::getline(rows, row);  // header
        while (std::getline(rows, row)) {
            std::istringstream fields(row);
            std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
            fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
                timeout >> inode;
            const auto colon = local.rfind(':');
            if (colon == std::string::npos || inode == "0") continue;
            if (std::stoul(local.substr(colon + 1), nullptr, 16) == port) inodes.insert(inode);
        }
    }
    std::size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        const auto target = std::filesystem::read_symlink(entry.path(), error).string();
        if (error || !target.starts_with("socket:[")) continue;
        if (inodes.contains(target.substr(8, target.size() - 9))) ++count;
    }
    return count;
}

}  // namespace kestrune::testing
