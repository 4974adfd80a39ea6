#include "shell/settings/sections/ImageDestinationSection.hpp"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "Kestrune/phone/settings/PhoneSettingsModel.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "shell/settings/SettingsStyle.hpp"
#include "shell/settings/sections/SectionControls.hpp"

namespace kestrune {

using settings_style::qt;

ImageDestinationSection::ImageDestinationSection(const SettingsViewContext& context)
    : deps_(context.dependencies) {
    auto& phone = deps_.phone;
    auto* front = new QRadioButton(qt(localized("The folder in the front file manager window")));
    front->setObjectName("saveToFrontWindow");
    auto* fixed = new QRadioButton(qt(localized("A folder I choose")));
    fixed->setObjectName("saveToFixedFolder");
    for (auto* radio : {front, fixed}) radio->setAccessibleName(radio->text());
    auto* group = new QButtonGroup(this);
    group->addButton(front);
    group->addButton(fixed);
    (phone.imageSaveMode() == ImageSaveLocation::Mode::frontFileManagerWindow ? front : fixed)
        ->setChecked(true);
    connect(front, &QRadioButton::toggled, this, [&phone](bool on) {
        phone.setImageSaveMode(on ? ImageSaveLocation::Mode::frontFileManagerWindow
                                  : ImageSaveLocation::Mode::fixed);
    });
    folderName_ = new QLabel;
    folderName_->setObjectName("imageFolder");
    settings_style::makeBody(folderName_);
    showFolder();
    auto* choose = section_controls::button(localized("Choose…"));
    choose->setObjectName("chooseImageFolder");
    connect(choose, &QPushButton::clicked, this, [&phone] { phone.chooseImageSaveFolder(); });
    auto* row = new QHBoxLayout;
    row->addWidget(folderName_, 1);
    row->addWidget(choose);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(front);
    layout->addWidget(fixed);
    layout->addLayout(row);
    layout->addWidget(section_controls::caption(localized(
        "This folder is also used when no file manager window is open. If your file manager "
        "doesn’t tell Murrelo which folder it shows, images go to this folder.")));
    following_ = phone.observeChanges([this] { showFolder(); });
}

void ImageDestinationSection::showFolder() {
    const auto folder = deps_.phone.imageSaveFolder();
    folderName_->setText(
        qt(deps_.folderDisplayName ? deps_.folderDisplayName(folder) : folder.filename().string()));
}

}  // namespace kestrune
