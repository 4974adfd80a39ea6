// murrelo-phone: a command-line phone for the phone link. It pairs with a computer running
// Murrelo, then types text, keys and passwords there, sends pictures, and receives what the
// computer sends to the phone.

#include <charconv>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "PhoneCommands.hpp"
#include "PhonePairing.hpp"

namespace {

using namespace kestrune::phone;
using namespace std::chrono_literals;

constexpr const char* kUsage = R"(usage: murrelo-phone [OPTIONS] COMMAND [ARGUMENTS]

Commands:
  pair 'kestrune://pair?...' [--name NAME] [--replace]
                        pair with the computer whose pairing link (QR code) this is; approve the
                        request on the computer. NAME defaults to this machine's host name.
                        --replace replaces an existing pairing (remove its device on the computer)
  text STRING           type STRING on the computer (use -- before a STRING starting with -)
  key RETURN|TAB        press Return or Tab on the computer (names in any case)
  secret [--enter]      type a password into the computer's focused password field; the password
                        is read from standard input, or asked for without echo on a terminal
                        (never from the command line). --enter presses Return after it.
  image FILE [--save] [--original]
                        send a picture (placed on the computer's clipboard); it is scaled to at
                        most 2048 pixels and sent as JPEG, unless --original and it is a PNG,
                        JPEG or HEIC file. --save also saves it in the computer's picture folder
  listen [--dir DIR] [--accept-secrets]
                        receive what the computer sends to this phone, reconnecting as needed:
                        texts are printed, pictures stored in DIR (default: the current folder),
                        passwords printed only with --accept-secrets (otherwise refused)
  discover [--seconds N]
                        look for the paired computer on the local network (default 3 seconds)

Options:
  --config FILE         the pairing file (default $XDG_CONFIG_HOME/murrelo-phone/pairing.json)
  --reply-timeout MS    wait this long for each reply (default 10000)
  --connect-timeout MS  wait this long for a connection to open (default 10000)
  --heartbeat MS        listen: heartbeat interval (default 10000)
  --deadline MS         listen: give a silent connection up after this long (default 35000)
  --help                show this text
  --                    end of options: every later argument is taken as it stands

Exit status: 0 on success, 1 when the request failed, 2 for a usage error.
)";

// The computer closes a subscription that is silent for 30 s; heartbeats every 10 s keep it
// open with room for two losses, and the phone gives up on a computer silent for longer.
constexpr auto kHeartbeat = 10s;
constexpr auto kDeadline = 35s;
constexpr auto kReplyTimeout = 10s;
constexpr auto kConnectTimeout = 10s;
// Approving a new phone or choosing a folder takes a person; give them two minutes.
constexpr auto kApprovalTimeout = 120s;
// A link idle for longer may have been dropped by the computer without notice.
constexpr auto kStaleAfter = 60s;

int usageError(const std::string& message) {
    std::cerr << "murrelo-phone: " << message << "\nTry 'murrelo-phone --help'.\n";
    return kExitUsage;
}

std::optional<std::chrono::milliseconds> parseMilliseconds(const std::string& text) {
    long long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value <= 0) return std::nullopt;
    return std::chrono::milliseconds(value);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> positional;
    std::optional<std::string> name, dir;
    bool enter = false, save = false, original = false, acceptSecrets = false, replace = false;
    std::chrono::milliseconds browseTime = 3s;
    CommonOptions options{PhonePairing::defaultPath(),
                          {kReplyTimeout, kApprovalTimeout, kConnectTimeout, kStaleAfter},
                          {kHeartbeat, kDeadline, kConnectTimeout}};

    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (optionsEnded) {
            positional.push_back(argument);
            continue;
        }
        auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= argc) return std::nullopt;
            return std::string(argv[++i]);
        };
        auto duration = [&](kestrune::Duration& target) -> bool {
            const auto text = value();
            const auto parsed = text ? parseMilliseconds(*text) : std::nullopt;
            if (!parsed) return false;
            target = *parsed;
            return true;
        };
        if (argument == "--") {
            optionsEnded = true;
        } else if (argument == "--help" || argument == "-h") {
            std::cout << kUsage;
            return kExitOk;
        } else if (argument == "--name") {
            if (!(name = value())) return usageError("--name needs a value");
        } else if (argument == "--dir") {
            if (!(dir = value())) return usageError("--dir needs a folder");
        } else if (argument == "--config") {
            const auto file = value();
            if (!file) return usageError("--config needs a file");
            options.pairingFile = *file;
        } else if (argument == "--replace") {
            replace = true;
        } else if (argument == "--enter") {
            enter = true;
        } else if (argument == "--save") {
            save = true;
        } else if (argument == "--original") {
            original = true;
        } else if (argument == "--accept-secrets") {
            acceptSecrets = true;
        } else if (argument == "--seconds") {
            const auto text = value();
            const auto seconds = text ? parseMilliseconds(*text) : std::nullopt;
            if (!seconds) return usageError("--seconds needs a positive number");
            browseTime = *seconds * 1000;
        } else if (argument == "--reply-timeout") {
            if (!duration(options.requestTiming.replyTimeout))
                return usageError("--reply-timeout needs milliseconds");
        } else if (argument == "--connect-timeout") {
            if (!duration(options.requestTiming.connectTimeout)) {
                return usageError("--connect-timeout needs milliseconds");
            }
            options.subscriptionTiming.connectTimeout = options.requestTiming.connectTimeout;
        } else if (argument == "--heartbeat") {
            if (!duration(options.subscriptionTiming.heartbeatInterval)) {
                return usageError("--heartbeat needs milliseconds");
            }
        } else if (argument == "--deadline") {
            if (!duration(options.subscriptionTiming.deadline))
                return usageError("--deadline needs milliseconds");
        } else if (argument.starts_with("--")) {
            return usageError("unknown option " + argument);
        } else {
            positional.push_back(argument);
        }
    }

    if (positional.empty()) {
        std::cerr << kUsage;
        return kExitUsage;
    }
    const std::string command = positional[0];
    const std::size_t arguments = positional.size() - 1;
    auto expect = [&](std::size_t count, const char* form) -> std::optional<int> {
        if (arguments == count) return std::nullopt;
        return usageError(std::string("usage: murrelo-phone ") + form);
    };

    if (command == "pair") {
        if (auto bad = expect(1, "pair 'kestrune://pair?...' [--name NAME] [--replace]")) {
            return *bad;
        }
        return pairCommand(options, positional[1], name, replace);
    }
    if (command == "text") {
        if (auto bad = expect(1, "text STRING")) return *bad;
        return textCommand(options, positional[1]);
    }
    if (command == "key") {
        if (auto bad = expect(1, "key RETURN|TAB")) return *bad;
        return keyCommand(options, positional[1]);
    }
    if (command == "secret") {
        if (arguments > 0)
            return usageError("secret takes no argument: the password is read from standard input");
        return secretCommand(options, enter);
    }
    if (command == "image") {
        if (auto bad = expect(1, "image FILE [--save] [--original]")) return *bad;
        return imageCommand(options, positional[1], save, original);
    }
    if (command == "listen") {
        if (auto bad = expect(0, "listen [--dir DIR] [--accept-secrets]")) return *bad;
        return listenCommand(options,
                             dir ? std::filesystem::path(*dir) : std::filesystem::current_path(),
                             acceptSecrets);
    }
    if (command == "discover") {
        if (auto bad = expect(0, "discover [--seconds N]")) return *bad;
        return discoverCommand(options, browseTime);
    }
    return usageError("unknown command " + command);
}
