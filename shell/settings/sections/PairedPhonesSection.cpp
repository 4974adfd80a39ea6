#include "shell/settings/sections/PairedPhonesSection.hpp"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QVBoxLayout>
#include <chrono>

#include "Kestrune/phone/settings/PhoneSettingsModel.hpp"
#include "Kestrune/phone/settings/RemoteDeviceRow.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "shell/settings/SettingsStyle.hpp"
#include "shell/settings/sections/SectionControls.hpp"

namespace kestrune {

using settings_style::qt;

PairedPhonesSection::PairedPhonesSection(const SettingsViewContext& context)
    : deps_(context.dependencies) {
    auto& phone = deps_.phone;
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* pair = section_controls::button(localized("Pair a New Phone…"));
    pair->setObjectName("pairNewPhone");
    connect(pair, &QPushButton::clicked, this, [&phone] { phone.turnOnAndPair(); });
    auto* row = new QHBoxLayout;
    row->addWidget(pair);
    row->addStretch(1);
    layout->addLayout(row);
    list_ = new QWidget;
    list_->setObjectName("phoneList");
    new QVBoxLayout(list_);
    list_->layout()->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(list_);
    fillList();
    following_ = phone.observeChanges([this, contentChanged = context.contentChanged] {
        fillList();
        contentChanged();
    });
}

void PairedPhonesSection::fillList() {
    auto* listLayout = list_->layout();
    while (auto* item = listLayout->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    const auto& devices = deps_.phone.devices().value();
    if (devices.empty()) {
        auto* none = new QLabel(qt(localized("No paired phones")));
        none->setObjectName("noPairedPhones");
        settings_style::makeCaption(none, settings_style::kBodyPixels);
        listLayout->addWidget(none);
        none->show();
        return;
    }
    const auto rowsLayout = SettingsControls::phoneListLayout(static_cast<int>(devices.size()),
                                                              availableScreenHeight());
    auto* rows = new QWidget;
    auto* rowsColumn = new QVBoxLayout(rows);
    rowsColumn->setContentsMargins(0, 0, 0, 0);
    rowsColumn->setSpacing(0);
    const auto now = std::chrono::system_clock::now();
    for (const auto& device : devices) {
        auto* row = new QWidget;
        row->setFixedHeight(SettingsControls::PhoneListLayout::kRowHeight);
        auto* rowLayout = new QHBoxLayout(row);
        rowLayout->setContentsMargins(0, 0, 0, 0);
        auto* name = new QLabel(qt(RemoteDeviceRow::title(device, now)));
        settings_style::makeBody(name);
        auto* remove = section_controls::button(localized("Remove…"));
        remove->setAccessibleName(qt(localizedFormat("Remove “%s”?", {device.name})));
        connect(remove, &QPushButton::clicked, this,
                [&phone = deps_.phone, device] { phone.requestRemoval(device); });
        rowLayout->addWidget(name, 1);
        rowLayout->addWidget(remove);
        rowsColumn->addWidget(row);
    }
    // Shown now, not when the layout would show them later: the window is fitted right away.
    if (!rowsLayout.scrolls) {
        listLayout->addWidget(rows);
        rows->show();
        return;
    }
    auto* scroll = new QScrollArea;
    scroll->setObjectName("phoneScroll");
    scroll->setAccessibleName(qt(localized("Paired Phones")));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Tab goes to the rows' buttons, and the list scrolls to the focused one.
    scroll->setFocusPolicy(Qt::NoFocus);
    scroll->setFixedHeight(rowsLayout.height);
    scroll->setWidget(rows);
    listLayout->addWidget(scroll);
    scroll->show();
}

std::optional<int> PairedPhonesSection::availableScreenHeight() const {
    if (deps_.availableScreenHeight) return deps_.availableScreenHeight();
    if (auto* screen = QGuiApplication::primaryScreen())
        return screen->availableGeometry().height();
    return std::nullopt;
}

}  // namespace kestrune
