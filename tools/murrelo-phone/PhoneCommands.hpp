#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "KestruneRemoteKit/Client/Kit/RemoteClient.hpp"
#include "KestruneRemoteKit/Client/Kit/SubscriptionClient.hpp"

namespace kestrune::phone {

// Exit codes of the command-line phone.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// Settings shared by every command; the time limits are adjustable so tests run quickly.
struct CommonOptions {
    std::filesystem::path pairingFile;
    RemoteClient::Timing requestTiming;
    SubscriptionClient::Timing subscriptionTiming;
};

// Refuses to replace an existing (or unusable) pairing file unless `replace`.
int pairCommand(const CommonOptions& options, const std::string& link,
                std::optional<std::string> name, bool replace);
int textCommand(const CommonOptions& options, const std::string& text);
int keyCommand(const CommonOptions& options, const std::string& keyName);
int secretCommand(const CommonOptions& options, bool enter);
// Prepares the picture (scaled and re-encoded unless `original` and the file allows it).
int imageCommand(const CommonOptions& options, const std::filesystem::path& file, bool save,
                 bool original);
int listenCommand(const CommonOptions& options, const std::filesystem::path& folder,
                  bool acceptSecrets);
int discoverCommand(const CommonOptions& options, std::chrono::milliseconds browseTime);

// One line for a person: what went wrong, with the computer's wire code when it refused.
std::string describe(const RemoteClient::Failure& failure);

}  // namespace kestrune::phone
