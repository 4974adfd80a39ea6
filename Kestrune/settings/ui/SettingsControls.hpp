#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>

#include "Kestrune/dictation/refine/LLMConfiguration.hpp"
#include "Kestrune/settings/ui/TriggerKeyChoices.hpp"

namespace kestrune {

class SettingsStore;

namespace SettingsControls {

// A text field's pending edit: none until the user types, so the field shows the stored value and
// nothing is written on each keystroke.
struct FieldDraft {
    std::optional<std::string> text;
};

// How a drafted field reaches the store: its stored value and the setter that writes it through.
struct FieldBinding {
    std::function<std::string()> stored;
    std::function<void(std::string)> store;
};

// The three drafted fields of one form (the refinement form, the transcription form), with the
// rule both follow: reading gives the draft when there is one, else the stored value; committing
// writes only a value that differs from the stored one, exactly as typed, then drops the draft.
// Main thread only, like the store behind it.
class DraftForm {
  public:
    explicit DraftForm(std::array<FieldBinding, 3> bindings) : bindings_(std::move(bindings)) {}

    std::string value(LLMField field) const;
    void edit(LLMField field, std::string text);
    bool hasDraft(LLMField field) const { return drafts_[index(field)].text.has_value(); }
    void commit(LLMField field);
    // baseURL, apiKey, model, in this order.
    void commitAll();

  private:
    static std::size_t index(LLMField field) { return static_cast<std::size_t>(field); }
    std::array<FieldBinding, 3> bindings_;
    std::array<FieldDraft, 3> drafts_;
};

// The refinement form's fields over the store (the key goes to the key store).
DraftForm llmDrafts(SettingsStore& store);
// The online transcription form's fields over the store (its key to its own key store entry).
DraftForm transcriptionDrafts(SettingsStore& store);

// What "Test" sends: the fields as shown, drafts included, switched on so a test works before
// saving and with refinement off.
LLMConfiguration testConfiguration(const DraftForm& drafts);

// The line under the refinement form: the test's result when there is one; else, with refinement
// on, which field still keeps it from working; else nothing.
std::string llmStatusLine(const std::string& testResult, const LLMConfiguration& configuration);

// The paired-phone list's layout: rows of a fixed height, in a scroll area of the limit's height
// once they would need more than 30 % of the screen's available height.
struct PhoneListLayout {
    static constexpr int kRowHeight = 32;
    // The limit without a screen: 30 % of an 800-pixel-high one.
    static constexpr int kLimitWithoutScreen = 240;

    bool scrolls = false;
    int height = 0;
    bool operator==(const PhoneListLayout&) const = default;
};
PhoneListLayout phoneListLayout(int rows, std::optional<int> availableScreenHeight);

}  // namespace SettingsControls
}  // namespace kestrune
