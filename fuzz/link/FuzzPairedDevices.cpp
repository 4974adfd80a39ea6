// Feeds arbitrary bytes to the devices-file reader and, for files it accepts, checks that writing
// the list and reading it back gives the same devices (dates to within two microseconds: a double
// holding seconds since 1970 resolves about one microsecond at the largest dates accepted).
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "Kestrune/link/PairedDeviceStore.hpp"

namespace {

bool sameDevice(const kestrune::PairedDevice& a, const kestrune::PairedDevice& b) {
    using std::chrono::abs;
    using std::chrono::microseconds;
    return a.id == b.id && a.name == b.name && a.secretHash == b.secretHash &&
           abs(a.pairedAt - b.pairedAt) <= microseconds(2) &&
           abs(a.lastConnectedAt - b.lastConnectedAt) <= microseconds(2);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto devices = kestrune::decodePairedDevices(text);
    if (!devices) return 0;
    const auto again = kestrune::decodePairedDevices(kestrune::encodePairedDevices(*devices));
    if (!again || again->size() != devices->size()) std::abort();
    for (std::size_t i = 0; i < devices->size(); ++i) {
        if (!sameDevice((*devices)[i], (*again)[i])) std::abort();
    }
    return 0;
}
