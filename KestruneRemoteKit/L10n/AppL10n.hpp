#pragma once

#include <string>

#include "KestruneRemoteKit/L10n/L10n.hpp"

namespace kestrune {

// The application's side of text lookup: where its tables are and in which locale they show.
struct AppL10n {
    // The application's tables: "app" in the installed tables folder, else the build tree's.
    static const ResourceBundle& resources();

    // The table that the application's lookups use now (keys are English, source "en").
    static LocalizedBundle bundle();

    // The language of that table, or "en" when no table was chosen.
    static std::string locale();
};

}  // namespace kestrune
