#include "KestruneRemoteKit/L10n/L10nCheck.hpp"

#include "KestruneRemoteKit/L10n/AppL10n.hpp"
#include "KestruneRemoteKit/L10n/KitTexts.hpp"

namespace kestrune {

std::string l10nCheckReport() {
    std::string report = "mac: " + AppL10n::bundle().path.string() + "\n";
    report += localized("Phone Connection") + " / " + localized("Pair a New Phone…") + " / " +
              localized("just now") + "\n";
    report += "kit: " + kitLocalized(kitTextComputerNotResponding) + "\n";
    return report;
}

std::string l10nCheckReport(InterfaceLanguage stored) {
    stored.apply();
    return l10nCheckReport();
}

}  // namespace kestrune
