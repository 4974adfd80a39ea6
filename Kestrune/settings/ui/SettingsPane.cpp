#include "Kestrune/settings/ui/SettingsPane.hpp"

#include "KestruneRemoteKit/L10n/L10n.hpp"

namespace kestrune {

namespace {
constexpr std::array<SettingsSection, 10> kAllSections = {
    SettingsSection::pushToTalk,        SettingsSection::recognition,
    SettingsSection::launchAtLogin,     SettingsSection::pairedPhones,
    SettingsSection::phoneOptions,      SettingsSection::imageDestination,
    SettingsSection::sendToPhone,       SettingsSection::llm,
    SettingsSection::interfaceLanguage, SettingsSection::welcome};
}  // namespace

std::string_view rawValue(SettingsPane pane) {
    switch (pane) {
        case SettingsPane::general:
            return "general";
        case SettingsPane::speech:
            return "speech";
        case SettingsPane::phone:
            return "phone";
        case SettingsPane::llm:
            return "llm";
    }
    return "general";
}

std::optional<SettingsPane> settingsPaneFromRawValue(std::string_view raw) {
    for (auto pane : kAllSettingsPanes) {
        if (rawValue(pane) == raw) return pane;
    }
    return std::nullopt;
}

std::string title(SettingsPane pane) {
    switch (pane) {
        case SettingsPane::general:
            return localized("General");
        case SettingsPane::speech:
            return localized("Speech");
        case SettingsPane::phone:
            return localized("Phone Connection");
        case SettingsPane::llm:
            return localized("LLM Refinement");
    }
    return {};
}

std::string_view themeIconName(SettingsPane pane) {
    switch (pane) {
        case SettingsPane::general:
            return "preferences-system";
        case SettingsPane::speech:
            return "audio-input-microphone";
        case SettingsPane::phone:
            return "phone";
        case SettingsPane::llm:
            return "tools-check-spelling";
    }
    return {};
}

std::string title(SettingsSection section) {
    switch (section) {
        case SettingsSection::pushToTalk:
            return localized("Push-to-Talk Key");
        case SettingsSection::recognition:
            return localized("Speech Recognition");
        case SettingsSection::launchAtLogin:
            return localized("Launch at Login");
        case SettingsSection::pairedPhones:
            return localized("Paired Phones");
        case SettingsSection::phoneOptions:
            return localized("Options");
        case SettingsSection::imageDestination:
            return localized("Save Images from Phone To");
        case SettingsSection::sendToPhone:
            return localized("Send Clipboard to Phone");
        case SettingsSection::llm:
            return localized("LLM Refinement");
        case SettingsSection::interfaceLanguage:
            return localized("Interface Language");
        case SettingsSection::welcome:
            return localized("Getting Started");
    }
    return {};
}

SettingsPane pane(SettingsSection section) {
    switch (section) {
        case SettingsSection::pushToTalk:
        case SettingsSection::recognition:
            return SettingsPane::speech;
        case SettingsSection::pairedPhones:
        case SettingsSection::phoneOptions:
        case SettingsSection::imageDestination:
        case SettingsSection::sendToPhone:
            return SettingsPane::phone;
        case SettingsSection::llm:
            return SettingsPane::llm;
        case SettingsSection::launchAtLogin:
        case SettingsSection::interfaceLanguage:
        case SettingsSection::welcome:
            return SettingsPane::general;
    }
    return SettingsPane::general;
}

std::vector<SettingsSection> sections(SettingsPane shown) {
    std::vector<SettingsSection> result;
    for (auto section : kAllSections) {
        if (pane(section) == shown) result.push_back(section);
    }
    return result;
}

}  // namespace kestrune
