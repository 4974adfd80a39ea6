#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "KestruneRemoteKit/Protocol/RemoteMessage.hpp"
#include "KestruneRemoteKit/Support/Uuid.hpp"

namespace kestrune {

// One thing the user sent to the phones: a text, a picture or a password.
struct OutboxItem {
    // Upper-case UUID text.
    std::string id;
    std::int64_t seq = 0;
    Date createdAt;
    std::optional<std::string> text;
    // A picture: the format's wire name and the name of its file in the outbox's folder.
    std::optional<std::string> imageFormat;
    std::optional<std::string> imageFile;
    // The phones that have not acknowledged it yet; never empty while the item exists.
    std::vector<Uuid> pendingDevices;
    // A password; never written to disk.
    std::optional<std::string> secret;

    bool isSecret() const { return secret.has_value(); }
    bool operator==(const OutboxItem&) const = default;
};

// The outbox as the server sees it: what waits for a phone, and the phone's acknowledgements. The
// outbox itself belongs to the phone features above the link; the server knows only this. Every
// operation is safe from any thread (the server calls them on its own queue).
class OutboxPort {
  public:
    virtual ~OutboxPort() = default;

    // The items still addressed to `device`, oldest first, without expired passwords.
    virtual std::vector<OutboxItem> pending(const Uuid& device) const = 0;
    // Takes `device` off the item; true when that changed anything.
    virtual bool acknowledge(std::string_view id, const Uuid& device) = 0;
    // Takes an unpaired phone off every item.
    virtual void removeDevice(const Uuid& device) = 0;
    // The folder that holds the pictures' files.
    virtual const std::filesystem::path& directory() const = 0;
};

}  // namespace kestrune
