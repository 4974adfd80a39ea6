#include "PhoneCommands.hpp"

#include <signal.h>
#include <unistd.h>

#include <future>
#include <iostream>
#include <mutex>

#include "KestruneRemoteKit/Imaging/ImageCompressor.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "KestruneRemoteKit/Protocol/ComputerDiscovery.hpp"
#include "KestruneRemoteKit/Protocol/PairingPayload.hpp"
#include "KestruneRemoteKit/Protocol/RemoteError.hpp"
#include "KestruneRemoteKit/Support/AtomicFile.hpp"
#include "KestruneRemoteKit/Support/SerialQueue.hpp"
#include "ListenLoop.hpp"
#include "PhoneInput.hpp"
#include "PhonePairing.hpp"
#include "PictureFile.hpp"
#include "SecretInput.hpp"
#include "platform/linux/avahi-browse/ServiceBrowser.hpp"

namespace kestrune::phone {

namespace {

using Failure = RemoteClient::Failure;

// Received pictures are ordinary files for the person; only the pairing file is private.
constexpr mode_t kPictureFileMode = 0644;
// Source files are read whole before preparation; anything larger is no phone picture.
constexpr std::uintmax_t kMaxSourceBytes = 256 * 1024 * 1024;

void fail(const std::string& message) {
    std::cerr << "murrelo-phone: " << message << "\n";
}

// Runs one client operation and waits for its outcome.
template <typename T>
Result<T, Failure> await(const std::function<void(RemoteClient::Completion<T>)>& start) {
    std::promise<Result<T, Failure>> outcome;
    auto future = outcome.get_future();
    start([&outcome](Result<T, Failure> result) { outcome.set_value(std::move(result)); });
    return future.get();
}

std::optional<PhonePairing> loadPairing(const CommonOptions& options) {
    const auto loaded = PhonePairing::load(options.pairingFile);
    if (!loaded) {
        fail(loaded.error());
        return std::nullopt;
    }
    if (!loaded.value()) {
        fail("this phone is not paired yet: run murrelo-phone pair 'kestrune://pair?...' first");
        return std::nullopt;
    }
    return loaded.value();
}

// Runs `operation` on a client authenticated with the stored pairing.
int withPairedClient(const CommonOptions& options,
                     const std::function<Result<void, Failure>(RemoteClient&)>& operation) {
    const auto pairing = loadPairing(options);
    if (!pairing) return kExitFailed;
    RemoteClient client(pairing->host, pairing->port, pairing->fingerprint, options.requestTiming);
    client.adopt(pairing->secret);
    const auto outcome = operation(client);
    if (!outcome) {
        fail(describe(outcome.error()));
        return kExitFailed;
    }
    return kExitOk;
}

std::string explainCode(const std::string& code) {
    const auto error = remoteErrorFromRaw(code);
    if (!error) return "an error this phone does not know";
    switch (*error) {
        case RemoteError::unauthenticated:
            return "the computer did not accept this phone's greeting";
        case RemoteError::tokenInvalid:
            return "the pairing code is not valid; show a new QR code";
        case RemoteError::tokenExpired:
            return "the pairing code has expired; show a new QR code";
        case RemoteError::pairingRejected:
            return "pairing was declined on the computer";
        case RemoteError::unknownDevice:
            return "this phone is no longer paired with the computer; pair again";
        case RemoteError::awaitingApproval:
            return "the computer is still waiting for approval";
        case RemoteError::badMessage:
            return "the computer did not understand the request";
        case RemoteError::unsupported:
            return "the computer does not support this";
        case RemoteError::textTooLong:
            return "the text is too long";
        case RemoteError::textEmpty:
            return "there is nothing to type";
        case RemoteError::busy:
            return "the computer is busy; try again";
        case RemoteError::cancelled:
            return "the computer abandoned the request";
        case RemoteError::imageTooLarge:
            return "the picture is too large";
        case RemoteError::imageInvalid:
            return "the computer could not read the picture";
        case RemoteError::imageSaveFailed:
            return "the computer could not save the picture";
        case RemoteError::accessibilityMissing:
            return "the computer may not type yet (input permission missing)";
        case RemoteError::notPasswordField:
            return "the focused field on the computer is not a password field";
        case RemoteError::internal:
            return "the computer ran into an internal error";
    }
    return "an error this phone does not know";
}

// File names come from the computer: keep only characters that cannot leave the folder.
std::string safeFileStem(const std::string& id) {
    std::string stem;
    for (char c : id) {
        const bool plain =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
        stem += plain ? c : '_';
    }
    return stem.empty() ? "picture" : stem.substr(0, 64);
}

std::string thisHostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) == 0 && name[0] != '\0') return name;
    return "murrelo-phone";
}

}  // namespace

std::string describe(const Failure& failure) {
    switch (failure.kind) {
        case Failure::Kind::unreachable:
            return "cannot reach the computer: " + kitLocalized(failure.detail);
        case Failure::Kind::rejected:
            return "the computer refused: " + explainCode(failure.detail) + " (" + failure.detail +
                   ")";
        case Failure::Kind::certificateMismatch:
            return "the computer's certificate does not match the one paired with; pair again";
        case Failure::Kind::timedOut:
            return "the computer did not answer in time";
        case Failure::Kind::disconnected:
            return "the connection to the computer was lost";
    }
    return "the request failed";
}

int pairCommand(const CommonOptions& options, const std::string& link,
                std::optional<std::string> name, bool replace) {
    const auto payload = PairingPayload::decode(link);
    if (!payload) {
        using Kind = PairingPayload::Failure::Kind;
        const auto& failure = payload.error();
        const char* why =
            failure.kind == Kind::wrongScheme      ? "it does not start with kestrune://pair?"
            : failure.kind == Kind::badHost        ? "its address cannot be dialled"
            : failure.kind == Kind::badPort        ? "its port is not valid"
            : failure.kind == Kind::badFingerprint ? "its fingerprint is not 64 hexadecimal digits"
                                                   : "a part is missing";
        fail(std::string("this is not a valid pairing link: ") + why +
             (failure.kind == Kind::missingField ? " (\"" + failure.key + "\")" : ""));
        return kExitFailed;
    }

    // Pairing again leaves the earlier device on the computer, where it would go on receiving what
    // is sent to phones: only on request, and the person is told which device to remove there.
    const auto existing = PhonePairing::load(options.pairingFile);
    if (!replace) {
        if (!existing) {
            fail(existing.error() + "\nTo pair anyway and replace it, add --replace.");
            return kExitFailed;
        }
        if (existing.value()) {
            const auto& old = *existing.value();
            fail("this phone is already paired with " + old.host + ":" + std::to_string(old.port) +
                 " as \"" + old.deviceName + "\" (" + options.pairingFile.string() +
                 ").\nTo pair again, add --replace, then remove \"" + old.deviceName +
                 "\" from the paired phones on that computer.");
            return kExitFailed;
        }
    }
    // A device the computer registers but this phone cannot remember is an orphan: make sure the
    // pairing can be stored before anyone approves it.
    if (const auto error = PhonePairing::checkWritable(options.pairingFile)) {
        fail("the pairing could not be stored, so the computer was not asked: " + *error);
        return kExitFailed;
    }

    const std::string deviceName = name ? *name : thisHostName();
    RemoteClient client(payload->host, payload->port, payload->fingerprint, options.requestTiming);
    std::cerr << "Waiting for approval on the computer...\n";
    const auto secret = await<std::string>(
        [&](auto done) { client.pair(payload->token, deviceName, std::move(done)); });
    if (!secret) {
        if (secret.error().kind == Failure::Kind::certificateMismatch) {
            // Nothing was paired with yet: the code itself vouches for the computer.
            fail(
                "the computer's certificate does not match the pairing code: this may not be the "
                "computer that showed it; nothing was paired");
        } else {
            fail(describe(secret.error()));
        }
        return kExitFailed;
    }
    const PhonePairing pairing{payload->host, payload->port, payload->fingerprint, secret.value(),
                               deviceName};
    if (const auto saved = pairing.save(options.pairingFile); !saved) {
        fail("paired, but the pairing could not be stored: " + saved.error() + "\nRemove \"" +
             deviceName + "\" from the paired phones on the computer, then pair again.");
        return kExitFailed;
    }
    std::cout << "Paired with " << payload->name.value_or(payload->host) << " as \"" << deviceName
              << "\".\n";
    if (existing && existing.value()) {
        const auto& old = *existing.value();
        std::cout << "The earlier pairing with " << old.host << ":" << old.port
                  << " was replaced: remove \"" << old.deviceName
                  << "\" from the paired phones on that computer.\n";
    } else if (!existing) {
        std::cout << "The unusable earlier pairing file was replaced: remove this phone's earlier "
                     "entry from the paired phones on the computer it was paired with.\n";
    }
    return kExitOk;
}

int textCommand(const CommonOptions& options, const std::string& text) {
    if (const auto refusal = checkText(text)) {
        fail(*refusal);
        return kExitFailed;
    }
    return withPairedClient(options, [&](RemoteClient& client) {
        return await<void>([&](auto done) { client.sendText(text, std::move(done)); });
    });
}

int keyCommand(const CommonOptions& options, const std::string& keyName) {
    const auto key = keyFromName(keyName);
    if (!key) {
        fail("unknown key " + keyName + ": use RETURN or TAB (in any case)");
        return kExitUsage;
    }
    return withPairedClient(options, [&](RemoteClient& client) {
        return await<void>([&](auto done) { client.sendKey(*key, std::move(done)); });
    });
}

int secretCommand(const CommonOptions& options, bool enter) {
    if (!loadPairing(options)) return kExitFailed;
    const auto secret = readSecret(STDIN_FILENO);
    if (!secret) {
        fail("could not read the password from standard input");
        return kExitFailed;
    }
    if (const auto refusal = checkSecret(*secret, enter)) {
        fail(*refusal);
        return kExitFailed;
    }
    return withPairedClient(options, [&](RemoteClient& client) {
        return await<void>([&](auto done) { client.sendSecret(*secret, enter, std::move(done)); });
    });
}

int imageCommand(const CommonOptions& options, const std::filesystem::path& file, bool save,
                 bool original) {
    std::error_code error;
    const auto size = std::filesystem::file_size(file, error);
    if (error) {
        fail("cannot read " + file.string() + ": " + error.message());
        return kExitFailed;
    }
    if (size > kMaxSourceBytes) {
        fail(file.string() + " is too large to be a picture this phone sends");
        return kExitFailed;
    }
    const auto bytes = readWholeFile(file);
    if (!bytes) {
        fail("cannot read " + file.string());
        return kExitFailed;
    }
    const auto prepared = ImageCompressor::prepare(*bytes, !original);
    if (!prepared) {
        fail(file.string() + " is not a picture this phone can read");
        return kExitFailed;
    }
    if (prepared->data.size() > static_cast<std::size_t>(kMaxImageBytes)) {
        fail(file.string() +
             " is larger than the 30 MiB a computer accepts; send it without --original");
        return kExitFailed;
    }
    std::optional<RemoteClient::SavedImage> saved;
    const int status =
        withPairedClient(options, [&](RemoteClient& client) -> Result<void, Failure> {
            auto sent = await<std::optional<RemoteClient::SavedImage>>([&](auto done) {
                client.sendImage(prepared->data, prepared->format, save, std::move(done));
            });
            if (!sent) return sent.error();
            saved = sent.value();
            return {};
        });
    if (status != kExitOk) return status;
    std::cout << "Sent " << prepared->summary() << ".\n";
    if (saved) {
        std::cout << "Saved on the computer as " << saved->file;
        if (saved->folder) std::cout << " in " << *saved->folder;
        std::cout << ".\n";
    }
    return status;
}

int listenCommand(const CommonOptions& options, const std::filesystem::path& folder,
                  bool acceptSecrets) {
    const auto pairing = loadPairing(options);
    if (!pairing) return kExitFailed;
    std::error_code folderError;
    if (!std::filesystem::is_directory(folder, folderError)) {
        fail(folder.string() + " is not a folder");
        return kExitFailed;
    }

    std::mutex output;
    SubscriptionClient::Deliver deliver = [&](const ComputerPush& push) {
        std::lock_guard guard(output);
        if (const auto* text = push.content.as<ComputerPush::Text>()) {
            std::cout << "text: " << text->text << std::endl;
            return true;
        }
        if (const auto* secret = push.content.as<ComputerPush::Secret>()) {
            if (!acceptSecrets) return false;
            std::cout << "password: " << secret->secret << std::endl;
            return true;
        }
        const auto& image = *push.content.as<ComputerPush::Image>();
        const auto path =
            folder / (safeFileStem(push.id) + "." + std::string(fileExtension(image.format)));
        const std::string_view bytes(reinterpret_cast<const char*>(image.data.data()),
                                     image.data.size());
        if (const auto written = writeFileAtomically(path, bytes, kPictureFileMode); !written) {
            fail("could not store a picture: " + written.error());
            return false;  // not acknowledged: the computer sends it again later
        }
        std::cout << "picture: " << path.string() << std::endl;
        return true;
    };

    // Termination requests are taken synchronously by this thread, not by a handler.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);  // the loop gave up
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    std::optional<SubscriptionClient::End> gaveUp;
    SerialQueue queue("Kestrune.PhoneListen");
    std::unique_ptr<ListenLoop> loop;
    queue.sync([&] {
        loop = std::make_unique<ListenLoop>(
            queue, ReconnectPlan(),
            [&](ListenLoop::AttemptCallbacks callbacks) {
                return startSubscription(pairing->host, pairing->port, pairing->fingerprint,
                                         pairing->secret, options.subscriptionTiming, acceptSecrets,
                                         deliver, std::move(callbacks));
            },
            ListenLoop::Hooks{[&](const std::string& note) {
                                  std::lock_guard guard(output);
                                  std::cerr << "murrelo-phone: " << note << std::endl;
                              },
                              [&](ListenLoop::GaveUp reason) {
                                  gaveUp = reason.end;
                                  ::kill(::getpid(), SIGUSR1);
                              }});
        loop->start();
    });
    int received = 0;
    sigwait(&signals, &received);
    queue.sync([&] {
        loop->stop();
        loop.reset();
    });
    if (received != SIGUSR1) return kExitOk;
    using Kind = SubscriptionClient::End::Kind;
    if (gaveUp && gaveUp->kind == Kind::certificateMismatch) {
        fail(describe(Failure::certificateMismatch()));
    } else if (gaveUp) {
        fail(describe(Failure::rejected(gaveUp->errorText)));
    }
    return kExitFailed;
}

int discoverCommand(const CommonOptions& options, std::chrono::milliseconds browseTime) {
    const auto pairing = loadPairing(options);
    if (!pairing) return kExitFailed;
    const auto result = browseServices(ComputerDiscovery::serviceType, browseTime);
    if (result.error) {
        fail(*result.error);
        return kExitFailed;
    }
    int found = 0;
    for (const auto& service : result.services) {
        const auto fingerprint = service.txt.find(std::string(ComputerDiscovery::fingerprintKey));
        const std::optional<std::string_view> txt =
            fingerprint == service.txt.end() ? std::nullopt
                                             : std::optional<std::string_view>(fingerprint->second);
        if (!ComputerDiscovery::matchesPinnedFingerprint(txt, pairing->fingerprint)) continue;
        ++found;
        std::cout << service.name << "\t" << service.hostName << "\t" << service.address << "\t"
                  << service.port;
        if (service.address != pairing->host || service.port != pairing->port) {
            std::cout << "\t(paired at " << pairing->host << ":" << pairing->port << ")";
        }
        std::cout << "\n";
    }
    if (found == 0) {
        fail("the paired computer was not found on the local network");
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace kestrune::phone
