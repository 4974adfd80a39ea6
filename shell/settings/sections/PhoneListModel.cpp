#include "shell/settings/sections/PhoneListModel.hpp"

#include <chrono>

#include "Kestrune/phone/settings/PhoneSettingsModel.hpp"
#include "Kestrune/phone/settings/RemoteDeviceRow.hpp"

namespace kestrune {

PhoneListModel::PhoneListModel(const PhoneSettingsModel& phones, QObject* parent)
    : QAbstractListModel(parent) {
    following_ = phones.devices().subscribe(
        [this](const std::vector<PairedDevice>& devices) { show(devices); });
}

void PhoneListModel::show(const std::vector<PairedDevice>& devices) {
    // Worded once per change, as the rows were shown: a repaint does not change a row's text.
    const auto now = std::chrono::system_clock::now();
    beginResetModel();
    rows_.clear();
    rows_.reserve(devices.size());
    for (const auto& device : devices) {
        rows_.push_back({device, QString::fromStdString(RemoteDeviceRow::title(device, now))});
    }
    endResetModel();
}

int PhoneListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

QVariant PhoneListModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole)
        return rows_[static_cast<std::size_t>(index.row())].title;
    return {};
}

Qt::ItemFlags PhoneListModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemNeverHasChildren : Qt::NoItemFlags;
}

}  // namespace kestrune
