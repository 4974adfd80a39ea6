// Runs a real server that advertises itself through Avahi, for the namespace test script: prints
// "fingerprint <fp>", then "advertising <name>" or "unavailable <reason>", and keeps serving until
// its standard input closes.
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <string>

#include "Kestrune/link/PairedDeviceStore.hpp"
#include "Kestrune/link/server/RemoteInputServer.hpp"
#include "KestruneRemoteKit/Support/SerialQueue.hpp"
#include "platform/linux/avahi/AvahiServiceAdvertiser.hpp"

int main(int argc, char** argv) {
    using namespace kestrune;
    if (argc != 2) {
        std::cerr << "usage: " << argv[0] << " WORK_DIRECTORY\n";
        return 2;
    }
    const std::filesystem::path directory = argv[1];
    TLSIdentityStore store(directory / "identity");
    if (const auto generated = store.generate(); !generated) {
        std::cerr << "identity: " << describe(generated.error()) << "\n";
        return 1;
    }
    auto loaded = store.load();
    if (!loaded) return 1;

    SerialQueue owner("Kestrune.ProbeOwner");
    std::mutex mutex;
    std::condition_variable changed;
    std::optional<AdvertisementStatus> final;

    // Answers nothing a phone asks (no phone comes); keeps the first settled announcement.
    struct Owner final : RemoteInputServer::Owner {
        std::mutex& mutex;
        std::condition_variable& changed;
        std::optional<AdvertisementStatus>& final;
        Owner(std::mutex& m, std::condition_variable& c, std::optional<AdvertisementStatus>& f)
            : mutex(m), changed(c), final(f) {}
        void approvePairing(RemoteInputServer::PairingRequest,
                            std::function<void(bool)> reply) override {
            reply(false);
        }
        void executeCommand(RemoteMessage, RemoteInputServer::CommandCompletion done) override {
            done(RemoteError::internal);
        }
        void receiveImage(Bytes, ImageFormat, bool,
                          RemoteInputServer::ImageCompletion done) override {
            done({RemoteError::internal, std::nullopt, std::nullopt});
        }
        void advertisementChanged(const AdvertisementStatus& status) override {
            if (status.state != AdvertisementStatus::State::advertising &&
                status.state != AdvertisementStatus::State::unavailable) {
                return;
            }
            std::lock_guard lock(mutex);
            if (!final) final = status;
            changed.notify_all();
        }
    };
    const auto probe = std::make_shared<Owner>(mutex, changed, final);

    const RemoteInputServer::Configuration configuration{
        .identity = loaded.value().identity,
        .loopbackOnly = true,
        .mdnsFingerprint = loaded.value().fingerprint,
    };
    RemoteInputServer server(
        configuration, {.devices = std::make_shared<PairedDeviceStore>(directory / "devices.json"),
                        .outbox = nullptr,
                        .ownerQueue = owner,
                        .owner = probe,
                        .advertiser = std::make_shared<AvahiServiceAdvertiser>()});
    server.start([](RemoteInputServer::StartResult result) {
        if (!result) std::cerr << "start failed: " << result.error().description() << "\n";
    });
    std::cout << "fingerprint " << loaded.value().fingerprint << std::endl;

    {
        std::unique_lock lock(mutex);
        if (!changed.wait_for(lock, std::chrono::seconds(20), [&] { return final.has_value(); })) {
            std::cout << "unavailable no answer from Avahi" << std::endl;
            return 1;
        }
        if (final->state == AdvertisementStatus::State::advertising) {
            std::cout << "advertising " << final->name << std::endl;
        } else {
            std::cout << "unavailable " << final->reason << std::endl;
            return 1;
        }
    }
    std::string ignored;
    while (std::getline(std::cin, ignored)) {
    }
    return 0;
}
