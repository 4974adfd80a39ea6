#pragma once

#include <string>

#include "KestruneRemoteKit/L10n/InterfaceLanguage.hpp"

namespace kestrune {

// The "--l10n-check" report, for the interface language now applied (the entry applies the stored
// choice first). Three lines:
//   "mac: " and the path of the application's chosen table (or its tables folder when none fits);
//   three application texts separated by " / ";
//   "kit: " and the kit's title for a connection that timed out, in the kit's own table.
std::string l10nCheckReport();

// The whole self-check: applies the stored choice (read by the caller, nothing is written), then
// reports.
std::string l10nCheckReport(InterfaceLanguage stored);

}  // namespace kestrune
