// Any text either fails to decode or decodes to a payload whose link decodes to it again.

#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "KestruneRemoteKit/Protocol/PairingPayload.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using kestrune::PairingPayload;
    const auto decoded =
        PairingPayload::decode(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!decoded.ok()) return 0;
    const auto again = PairingPayload::decode(decoded->encoded());
    if (!again.ok() || again.value() != decoded.value()) std::abort();
    return 0;
}
