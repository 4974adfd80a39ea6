// Settings files are read at every start and may have been edited by hand or damaged: decoding
// must never crash, and what it keeps must survive a save and a reload unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "Kestrune/defaults/DefaultsFile.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto decoded = kestrune::decodeDefaultsFile(bytes);
    if (!decoded) return 0;
    const auto again =
        kestrune::decodeDefaultsFile(kestrune::encodeDefaultsFile(decoded.value().values));
    if (!again || again.value().values != decoded.value().values ||
        !again.value().skippedKeys.empty()) {
        std::abort();
    }
    return 0;
}
