// Feeds arbitrary bytes to the string-table loader and, for tables it accepts, checks what every
// accepted table must satisfy; also fills each translation as a format text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "KestruneRemoteKit/L10n/StringTable.hpp"
#include "KestruneRemoteKit/L10n/TextFormat.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto parsed = kestrune::parseStringTable(text);
    if (!parsed.ok()) {
        if (parsed.error().empty()) std::abort();  // every refusal explains itself
        return 0;
    }
    for (const auto& [key, translation] : parsed.value().entries) {
        // Kept entries always have a key and a translation, and the table finds them.
        if (key.empty() || translation.empty() || parsed.value().find(key) != &translation)
            std::abort();
        const auto filled = kestrune::formatText(translation, {"value", 12345, -1});
        (void)kestrune::formatPlaceholders(translation);
        if (filled.size() > translation.size() * 8 + 64) std::abort();
    }
    return 0;
}
