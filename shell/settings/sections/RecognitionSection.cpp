#include "shell/settings/sections/RecognitionSection.hpp"

#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>

#include "Kestrune/settings/SettingsStore.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "shell/settings/SettingsStyle.hpp"
#include "shell/settings/sections/SectionControls.hpp"

namespace kestrune {

using settings_style::qt;

namespace {

std::string engineTitle(SpeechEnginePreference preference) {
    switch (preference) {
        case SpeechEnginePreference::automatic:
            return localized("Automatic");
        case SpeechEnginePreference::builtIn:
            return localized("Built-in (English only)");
        case SpeechEnginePreference::online:
            return localized("Online");
    }
    return {};
}

}  // namespace

RecognitionSection::RecognitionSection(const SettingsViewContext& context)
    : deps_(context.dependencies), drafts_(context.transcriptionDrafts) {
    auto& settings = deps_.settings;
    auto* form = new QFormLayout(this);
    form->setContentsMargins(0, 0, 0, 0);
    auto* engine = new QComboBox;
    engine->setObjectName("speechEngine");
    for (auto preference : {SpeechEnginePreference::automatic, SpeechEnginePreference::builtIn,
                            SpeechEnginePreference::online}) {
        engine->addItem(qt(engineTitle(preference)), static_cast<int>(preference));
        if (settings.speechEngine().value() == preference)
            engine->setCurrentIndex(engine->count() - 1);
    }
    engine->setAccessibleName(qt(localized("Recognizer")));
    connect(engine, &QComboBox::activated, this, [&settings, engine](int index) {
        settings.setSpeechEngine(
            static_cast<SpeechEnginePreference>(engine->itemData(index).toInt()));
    });
    form->addRow(qt(localized("Recognizer")), engine);

    auto* testRow = new ConnectionTestRow(
        *this, {.statusName = "transcriptionStatus",
                .buttonName = "testTranscription",
                .success = localized("Success. The transcription service responded.")});
    const auto edited = [testRow] { testRow->updateStatus(); };
    using section_controls::draftField;
    form->addRow(qt(title(LLMField::baseURL)),
                 draftField(drafts_, LLMField::baseURL,
                            std::string(SettingsStore::kDefaultTranscriptionBaseURL), edited));
    form->addRow(qt(title(LLMField::apiKey)),
                 draftField(drafts_, LLMField::apiKey, "sk-...", edited));
    form->addRow(qt(title(LLMField::model)),
                 draftField(drafts_, LLMField::model,
                            std::string(SettingsStore::kDefaultTranscriptionModel), edited));
    form->addRow(testRow);
    form->addRow(section_controls::caption(localized(
        "Built-in recognition works offline, in English only. The online service transcribes "
        "every language; the recording is sent to it when you release the key. A transcription "
        "server of your own (OpenAI-compatible, such as a local Whisper server) needs no API key: "
        "enter its address, e.g. http://localhost:8000/v1, and its model name.")));
}

ConnectionTestRow::Form::Test RecognitionSection::test() const {
    if (!deps_.testTranscription) return {};
    return
        [&test = deps_.testTranscription, configuration = OnlineTranscriptionConfiguration{
                                              .baseURL = drafts_.value(LLMField::baseURL),
                                              .apiKey = drafts_.value(LLMField::apiKey),
                                              .model = drafts_.value(LLMField::model)}](auto done) {
            test(configuration, std::move(done));
        };
}

}  // namespace kestrune
