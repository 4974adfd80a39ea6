// Any frame either fails to decode or decodes to a message that encodes and decodes to itself.

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "KestruneRemoteKit/Protocol/RemoteMessage.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using kestrune::RemoteMessage;
    const auto decoded =
        RemoteMessage::decode(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!decoded.ok()) return 0;
    const auto encoded = decoded->encoded();
    if (!encoded.ok()) std::abort();  // every decoded text is UTF-8, so it must encode
    const auto again = RemoteMessage::decode(encoded.value());
    if (!again.ok() || again.value() != decoded.value()) std::abort();
    return 0;
}
