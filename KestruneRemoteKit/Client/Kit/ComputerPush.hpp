#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "KestruneRemoteKit/Protocol/PushContent.hpp"
#include "KestruneRemoteKit/Protocol/RemoteMessage.hpp"
#include "KestruneRemoteKit/Protocol/WireLimits.hpp"

namespace kestrune {

// One item the computer pushed to this phone.
struct ComputerPush {
    using Content = PushContent;
    using Text = PushContent::Text;
    using Image = PushContent::Image;
    using Secret = PushContent::Secret;

    std::string id;
    std::int64_t seq = 0;
    Date sentAt;
    Content content;

    bool operator==(const ComputerPush&) const = default;
};

// What a subscription does with each message after it has subscribed: hands out complete items,
// reassembles pictures from their chunks, and notices a refusal. No input or output of its own.
class PushReceiver {
  public:
    // A picture being received.
    struct Assembly {
        std::string id;
        ImageFormat format = ImageFormat::jpeg;
        std::int64_t size = 0;  // announced byte count
        std::int64_t seq = 0;
        Date sentAt;
        Bytes data;
        std::int64_t nextIndex = 0;
    };

    struct Nothing {};
    struct Rejected {
        std::string error;
    };
    using Step = std::variant<Nothing, ComputerPush, Rejected>;

    // A `ComputerPush` result is to be delivered and, when taken, acknowledged with `pushAck(id)`.
    Step receive(RemoteMessage message);

    const std::optional<Assembly>& assembly() const { return assembly_; }

  private:
    std::optional<Assembly> assembly_;
};

}  // namespace kestrune
