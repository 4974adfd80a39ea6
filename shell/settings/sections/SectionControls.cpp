#include "shell/settings/sections/SectionControls.hpp"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "shell/settings/SettingsStyle.hpp"

namespace kestrune::section_controls {

using settings_style::qt;

QLabel* caption(const std::string& text) {
    auto* label = new QLabel(qt(text));
    settings_style::makeCaption(label);
    return label;
}

QCheckBox* checkBox(const std::string& text, bool checked) {
    auto* box = new QCheckBox(qt(text));
    box->setChecked(checked);
    box->setAccessibleName(box->text());
    return box;
}

QPushButton* button(const std::string& text) {
    auto* pushButton = new QPushButton(qt(text));
    pushButton->setAccessibleName(pushButton->text());
    pushButton->setAutoDefault(false);
    return pushButton;
}

QLineEdit* draftField(SettingsControls::DraftForm& form, LLMField field,
                      const std::string& placeholder, const std::function<void()>& edited) {
    auto* edit = new QLineEdit(qt(form.value(field)));
    edit->setPlaceholderText(qt(placeholder));
    edit->setAccessibleName(qt(title(field)));
    QObject::connect(edit, &QLineEdit::textEdited, edit,
                     [&form, field, edited](const QString& text) {
                         form.edit(field, text.toStdString());
                         edited();
                     });
    // Return and leaving the field both end the editing.
    QObject::connect(edit, &QLineEdit::editingFinished, edit, [&form, field, edited] {
        form.commit(field);
        edited();
    });
    return edit;
}

}  // namespace kestrune::section_controls
