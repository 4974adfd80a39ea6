#include "shell/settings/sections/RefinementSection.hpp"

#include <QCheckBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>

#include "Kestrune/settings/SettingsStore.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "shell/settings/SettingsStyle.hpp"
#include "shell/settings/sections/SectionControls.hpp"

namespace kestrune {

using settings_style::qt;

RefinementSection::RefinementSection(const SettingsViewContext& context)
    : deps_(context.dependencies), drafts_(context.llmDrafts) {
    auto& settings = deps_.settings;
    auto* form = new QFormLayout(this);
    form->setContentsMargins(0, 0, 0, 0);
    auto* enabled =
        section_controls::checkBox(localized("Enable Refinement"), settings.llmEnabled().value());
    enabled->setObjectName("llmEnabled");
    form->addRow(enabled);
    auto* testRow = new ConnectionTestRow(
        *this, {.statusName = "llmStatus",
                .buttonName = "testRefinement",
                .success = localized("Success. The LLM endpoint responded.")});
    connect(enabled, &QCheckBox::toggled, this, [&settings, testRow](bool on) {
        settings.setLLMEnabled(on);
        testRow->updateStatus();
    });
    const auto edited = [testRow] { testRow->updateStatus(); };
    using section_controls::draftField;
    auto* baseURL =
        draftField(drafts_, LLMField::baseURL, std::string(SettingsStore::kDefaultBaseURL), edited);
    baseURL->setObjectName("llmBaseURL");
    auto* apiKey = draftField(drafts_, LLMField::apiKey, "sk-...", edited);
    apiKey->setObjectName("llmAPIKey");
    auto* model =
        draftField(drafts_, LLMField::model, std::string(SettingsStore::kDefaultModel), edited);
    model->setObjectName("llmModel");
    form->addRow(qt(title(LLMField::baseURL)), baseURL);
    form->addRow(qt(title(LLMField::apiKey)), apiKey);
    form->addRow(qt(title(LLMField::model)), model);
    form->addRow(testRow);
    // Followed while the pane is open: a key is written when its field is left, so a refusal
    // comes while the user is still here.
    auto* failureLine = section_controls::caption("");
    failureLine->setObjectName("keyStoreFailure");
    form->addRow(failureLine);
    keyStoreFailure_ = settings.keyStoreFailure().subscribe(
        [failureLine](const std::optional<std::string>& failure) {
            failureLine->setText(QString::fromStdString(failure.value_or("")));
            failureLine->setVisible(failure.has_value());
        });
}

ConnectionTestRow::Form::Test RefinementSection::test() const {
    if (!deps_.testRefinement) return {};
    return [&test = deps_.testRefinement,
            configuration = SettingsControls::testConfiguration(drafts_)](auto done) {
        test(configuration, std::move(done));
    };
}

std::string RefinementSection::statusLine(const std::string& testResult) const {
    auto configuration = SettingsControls::testConfiguration(drafts_);
    configuration.isEnabled = deps_.settings.llmEnabled().value();
    return SettingsControls::llmStatusLine(testResult, configuration);
}

}  // namespace kestrune
