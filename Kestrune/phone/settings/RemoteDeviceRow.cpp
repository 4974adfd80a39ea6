#include "Kestrune/phone/settings/RemoteDeviceRow.hpp"

#include <unicode/locid.h>
#include <unicode/reldatefmt.h>
#include <unicode/unistr.h>

#include <chrono>
#include <memory>

#include "KestruneRemoteKit/L10n/L10n.hpp"

namespace kestrune::RemoteDeviceRow {

namespace {

// Shown characters of the hash: enough to tell phones apart, too few to matter to anyone else.
constexpr std::size_t kHashSuffixLength = 6;
// Under this, "just now".
constexpr std::chrono::seconds kJustNow{60};

struct UnitStep {
    std::int64_t seconds;
    URelativeDateTimeUnit unit;
};
// The largest unit that fits, as a date formatter counts: minutes, hours, days, weeks, months,
// years.
constexpr UnitStep kSteps[] = {
    {365LL * 86400, UDAT_REL_UNIT_YEAR}, {30LL * 86400, UDAT_REL_UNIT_MONTH},
    {7LL * 86400, UDAT_REL_UNIT_WEEK},   {86400, UDAT_REL_UNIT_DAY},
    {3600, UDAT_REL_UNIT_HOUR},          {60, UDAT_REL_UNIT_MINUTE},
};

}  // namespace

std::string relativeTime(Date then, Date now, const std::string& locale) {
    const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(now - then).count();
    const std::int64_t magnitude = elapsed < 0 ? -elapsed : elapsed;
    UnitStep step{1, UDAT_REL_UNIT_SECOND};
    for (const auto& candidate : kSteps) {
        if (magnitude >= candidate.seconds) {
            step = candidate;
            break;
        }
    }
    const double count = static_cast<double>(magnitude / step.seconds);
    UErrorCode status = U_ZERO_ERROR;
    icu::RelativeDateTimeFormatter formatter(icu::Locale::forLanguageTag(locale, status), nullptr,
                                             UDAT_STYLE_LONG, UDISPCTX_CAPITALIZATION_NONE, status);
    if (U_FAILURE(status)) return {};
    icu::UnicodeString text;
    formatter.formatNumeric(elapsed < 0 ? count : -count, step.unit, text, status);
    if (U_FAILURE(status)) return {};
    std::string utf8;
    text.toUTF8String(utf8);
    return utf8;
}

std::string title(const PairedDevice& device, Date now) {
    const auto& hash = device.secretHash;
    const std::string suffix =
        hash.size() > kHashSuffixLength ? hash.substr(hash.size() - kHashSuffixLength) : hash;
    const std::string when =
        now - device.lastConnectedAt < kJustNow
            ? localized("just now")
            : relativeTime(device.lastConnectedAt, now, L10n::shared().locale());
    const std::string title = device.name + " · …" + suffix + " · " + when;
    return device.needsNewPairing ? title + " · " + localized("needs a new pairing") : title;
}

}  // namespace kestrune::RemoteDeviceRow
