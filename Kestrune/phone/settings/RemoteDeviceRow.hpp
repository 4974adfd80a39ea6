#pragma once

#include <string>

#include "Kestrune/link/PairedDeviceStore.hpp"

namespace kestrune::RemoteDeviceRow {

// A paired phone's line in the settings: its name, "…" and the last 6 characters of its secret's
// hash (to tell two phones of the same name apart), and how long ago it last connected — "just
// now" under a minute, else the full relative time in the interface language ("3 hours ago"), and
// "needs a new pairing" when the computer's identity changed since it paired.
std::string title(const PairedDevice& device, Date now);

// The full-style relative time of `then` seen from `now`, in `locale` (ICU's wording).
std::string relativeTime(Date then, Date now, const std::string& locale);

}  // namespace kestrune::RemoteDeviceRow
