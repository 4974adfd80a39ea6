#pragma once

#include <vector>

#include <QAbstractListModel>
#include <QString>

#include "Kestrune/link/PairedDeviceStore.hpp"
#include "KestruneRemoteKit/Support/Subscription.hpp"

namespace kestrune {

class PhoneSettingsModel;

// The paired phones as Qt's item views read them, most recently connected first: one row each,
// whose text is the phone's line (name, end of its secret's hash, last connection) worded when
// the list last changed. Each change of the phones replaces every row. GUI thread only, like the
// phone model, which must outlive it.
class PhoneListModel final : public QAbstractListModel {
  public:
    explicit PhoneListModel(const PhoneSettingsModel& phones, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    // Shown, not selected or edited: the rows' buttons act on them.
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    const PairedDevice& device(int row) const {
        return rows_.at(static_cast<std::size_t>(row)).device;
    }

  private:
    struct Row {
        PairedDevice device;
        QString title;
    };

    void show(const std::vector<PairedDevice>& devices);

    std::vector<Row> rows_;
    Subscription following_;
};

}  // namespace kestrune
