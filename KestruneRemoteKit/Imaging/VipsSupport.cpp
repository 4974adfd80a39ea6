#include "KestruneRemoteKit/Imaging/VipsSupport.hpp"

#include <vips/vips.h>

#include <mutex>
#include <stdexcept>

namespace kestrune {

// Operation caching keeps decoded pictures alive after use; each picture is handled once, so the
// cache would only hold memory.
static constexpr int kVipsCacheOperations = 0;

void ensureVipsStarted() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (VIPS_INIT("murrelo") != 0) throw std::runtime_error("libvips could not start");
        vips_cache_set_max(kVipsCacheOperations);
    });
}

}  // namespace kestrune
