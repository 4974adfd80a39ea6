// The language-model service's reply is untrusted network input: decoding and interpreting it,
// whatever the status, must never crash. The base URL, typed by the user, goes through the same.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "Kestrune/dictation/refine/LLMRefiner.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    for (const long status : {200L, 401L}) {
        (void)kestrune::LLMRefiner::interpretOutcome(
            kestrune::HttpOutcome(kestrune::HttpResponse{status, std::string(bytes)}), "fallback");
    }
    (void)kestrune::LLMRefiner::chatCompletionsURL(bytes);
    return 0;
}
