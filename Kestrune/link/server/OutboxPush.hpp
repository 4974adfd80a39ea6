#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Kestrune/link/server/OutboxPort.hpp"
#include "KestruneRemoteKit/Protocol/RemoteMessage.hpp"

namespace kestrune {

// What one outbox item becomes on a phone's subscription connection. Pure: the server reads
// nothing from the network here and sends what comes back, in order.
struct OutboxPush {
    // The messages that carry the item, in order. Empty when the item cannot go out now (a
    // picture whose file is gone or whose format is unknown): it stays pending and is tried again.
    std::vector<RemoteMessage> messages;
    // A password for a phone that keeps none: instead of sending it, the server acknowledges it on
    // the phone's behalf, so the item does not wait for that phone.
    bool refusedSecret = false;

    // Reads a picture's file, named as in the item, from the outbox folder; none when unreadable.
    using ReadPicture = std::function<std::optional<std::string>(std::string_view fileName)>;

    // `acceptsSecret`: the phone said it keeps passwords. `readPicture` runs for pictures only.
    static OutboxPush plan(const OutboxItem& item, bool acceptsSecret,
                           const ReadPicture& readPicture);
};

}  // namespace kestrune
