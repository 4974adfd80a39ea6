#pragma once

#include <functional>
#include <string>

#include "Kestrune/settings/ui/SettingsControls.hpp"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The controls the sections make alike, each named to assistive technology by its text.
namespace kestrune::section_controls {

// A caption: small, fainter and wrapped.
QLabel* caption(const std::string& text);
QCheckBox* checkBox(const std::string& text, bool checked);
// A button that Return in a text field does not press.
QPushButton* button(const std::string& text);
// A text field of `form` showing its draft or stored value; typing drafts, Return and leaving
// the field commit. `edited` runs after either.
QLineEdit* draftField(SettingsControls::DraftForm& form, LLMField field,
                      const std::string& placeholder, const std::function<void()>& edited);

}  // namespace kestrune::section_controls
