#include "Kestrune/settings/ui/SettingsControls.hpp"

#include "Kestrune/settings/SettingsStore.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"

namespace kestrune::SettingsControls {

std::string DraftForm::value(LLMField field) const {
    const auto& draft = drafts_[index(field)];
    return draft.text ? *draft.text : bindings_[index(field)].stored();
}

void DraftForm::edit(LLMField field, std::string text) {
    drafts_[index(field)].text = std::move(text);
}

void DraftForm::commit(LLMField field) {
    auto& draft = drafts_[index(field)];
    if (!draft.text) return;
    const auto& binding = bindings_[index(field)];
    // Taken out first: the store's observers may read the form while it writes.
    std::string text = std::move(*draft.text);
    draft.text.reset();
    if (text != binding.stored()) binding.store(std::move(text));
}

void DraftForm::commitAll() {
    for (auto field : kAllLLMFields) commit(field);
}

DraftForm llmDrafts(SettingsStore& store) {
    return DraftForm({
        FieldBinding{[&store] { return store.llmBaseURL().value(); },
                     [&store](std::string text) { store.setLLMBaseURL(std::move(text)); }},
        FieldBinding{[&store] { return store.llmAPIKey().value(); },
                     [&store](std::string text) { store.setLLMAPIKey(std::move(text)); }},
        FieldBinding{[&store] { return store.llmModel().value(); },
                     [&store](std::string text) { store.setLLMModel(std::move(text)); }},
    });
}

DraftForm transcriptionDrafts(SettingsStore& store) {
    return DraftForm({
        FieldBinding{
            [&store] { return store.transcriptionBaseURL().value(); },
            [&store](std::string text) { store.setTranscriptionBaseURL(std::move(text)); }},
        FieldBinding{[&store] { return store.transcriptionAPIKey().value(); },
                     [&store](std::string text) { store.setTranscriptionAPIKey(std::move(text)); }},
        FieldBinding{[&store] { return store.transcriptionModel().value(); },
                     [&store](std::string text) { store.setTranscriptionModel(std::move(text)); }},
    });
}

LLMConfiguration testConfiguration(const DraftForm& drafts) {
    return LLMConfiguration{.baseURL = drafts.value(LLMField::baseURL),
                            .apiKey = drafts.value(LLMField::apiKey),
                            .model = drafts.value(LLMField::model),
                            .isEnabled = true};
}

std::string llmStatusLine(const std::string& testResult, const LLMConfiguration& configuration) {
    if (!testResult.empty()) return testResult;
    if (!configuration.isEnabled) return {};
    if (auto missing = configuration.firstEmptyField()) {
        return localizedFormat("Nothing is refined until the %s is filled in.", {title(*missing)});
    }
    return {};
}

PhoneListLayout phoneListLayout(int rows, std::optional<int> availableScreenHeight) {
    // 30 % of the screen: the list may grow that far before the window would outgrow small screens.
    const int limit = availableScreenHeight ? (*availableScreenHeight * 3) / 10
                                            : PhoneListLayout::kLimitWithoutScreen;
    const int needed = rows * PhoneListLayout::kRowHeight;
    if (needed > limit) return {.scrolls = true, .height = limit};
    return {.scrolls = false, .height = needed};
}

}  // namespace kestrune::SettingsControls
