#include "shell/settings/sections/PairedPhonesSection.hpp"

#include <QApplication>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

#include "Kestrune/phone/settings/PhoneSettingsModel.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "shell/settings/SettingsStyle.hpp"
#include "shell/settings/sections/PhoneListModel.hpp"
#include "shell/settings/sections/SectionControls.hpp"

namespace kestrune {

using settings_style::qt;

namespace {

// A row's button at its right end, as high as it likes, centred in the row.
QRect buttonGeometry(const QRect& row, const QWidget* button) {
    const QSize size = button->sizeHint();
    return {row.right() + 1 - size.width(), row.top() + (row.height() - size.height()) / 2,
            size.width(), size.height()};
}

// A phone's row: its line as body text, left and centred vertically, then its "Remove…" button.
// The button is a real one (an index widget), so that Tab and Space reach it and it tells its
// name when focused, as every other button of the window does.
class PhoneRowDelegate final : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const QWidget* view = option.widget;
        const QStyle* style = view ? view->style() : QApplication::style();
        QRect text = option.rect;
        if (const auto* button = buttonOf(option, index)) {
            text.setRight(buttonGeometry(option.rect, button).left() - 1 -
                          style->pixelMetric(QStyle::PM_LayoutHorizontalSpacing, nullptr, view));
        }
        const QFont font = text_style::pixelFont(option.font, settings_style::kBodyPixels);
        const QString title =
            QFontMetrics(font).elidedText(index.data().toString(), Qt::ElideRight, text.width());
        painter->save();
        painter->setFont(font);
        style->drawItemText(painter, text, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextExpandTabs,
                            option.palette, option.state.testFlag(QStyle::State_Enabled), title,
                            QPalette::WindowText);
        painter->restore();
    }

    // As wide as the list: the rows span it.
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override {
        return {option.rect.width(), SettingsControls::PhoneListLayout::kRowHeight};
    }

    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                              const QModelIndex&) const override {
        editor->setGeometry(buttonGeometry(option.rect, editor));
    }

  private:
    static const QWidget* buttonOf(const QStyleOptionViewItem& option, const QModelIndex& index) {
        const auto* view = qobject_cast<const QAbstractItemView*>(option.widget);
        return view ? view->indexWidget(index) : nullptr;
    }
};

}  // namespace

PairedPhonesSection::PairedPhonesSection(const SettingsViewContext& context)
    : deps_(context.dependencies), contentChanged_(context.contentChanged) {
    auto& phone = deps_.phone;
    column_ = new QVBoxLayout(this);
    column_->setContentsMargins(0, 0, 0, 0);
    auto* pair = section_controls::button(localized("Pair a New Phone…"));
    pair->setObjectName("pairNewPhone");
    connect(pair, &QPushButton::clicked, this, [&phone] { phone.turnOnAndPair(); });
    auto* row = new QHBoxLayout;
    row->addWidget(pair);
    row->addStretch(1);
    column_->addLayout(row);

    model_ = new PhoneListModel(phone, this);
    list_ = new QListView;
    list_->setObjectName("phoneList");
    list_->setAccessibleName(qt(localized("Paired Phones")));
    list_->setModel(model_);
    list_->setItemDelegate(new PhoneRowDelegate(list_));
    list_->setFrameShape(QFrame::NoFrame);
    list_->viewport()->setBackgroundRole(QPalette::Window);
    list_->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Tab goes to the rows' buttons, and the list scrolls to the focused one.
    list_->setFocusPolicy(Qt::NoFocus);
    column_->addWidget(list_);
    showRows();
    // After the view's own reset, which lets go of the old rows' buttons.
    connect(model_, &QAbstractItemModel::modelReset, this, [this] {
        showRows();
        contentChanged_();
    });
}

void PairedPhonesSection::showRows() {
    const int rows = model_->rowCount();
    const auto layout = SettingsControls::phoneListLayout(rows, availableScreenHeight());
    list_->setFixedHeight(layout.height);
    // Decided before the rows are laid out, so that they leave the scroll bar its room at once.
    list_->setVerticalScrollBarPolicy(layout.scrolls ? Qt::ScrollBarAlwaysOn
                                                     : Qt::ScrollBarAlwaysOff);
    // A list that scrolls sits in a well of the window's colour, as a scroll area's content does.
    list_->viewport()->setAutoFillBackground(layout.scrolls);
    for (int row = 0; row < rows; ++row) {
        list_->setIndexWidget(model_->index(row), removeButton(model_->device(row)));
    }
    list_->setVisible(rows > 0);
    showEmptyState(rows == 0);
}

QPushButton* PairedPhonesSection::removeButton(const PairedDevice& device) {
    auto* remove = section_controls::button(localized("Remove…"));
    remove->setAccessibleName(qt(localizedFormat("Remove “%s”?", {device.name})));
    connect(remove, &QPushButton::clicked, this,
            [&phone = deps_.phone, device] { phone.requestRemoval(device); });
    return remove;
}

void PairedPhonesSection::showEmptyState(bool empty) {
    if (!empty) {
        delete std::exchange(empty_, nullptr);
        return;
    }
    if (empty_) return;
    empty_ = new QLabel(qt(localized("No paired phones")));
    empty_->setObjectName("noPairedPhones");
    settings_style::makeCaption(empty_, settings_style::kBodyPixels);
    column_->addWidget(empty_);
    // Shown now, not when the layout would show it later: the window is fitted right away.
    empty_->show();
}

std::optional<int> PairedPhonesSection::availableScreenHeight() const {
    if (deps_.availableScreenHeight) return deps_.availableScreenHeight();
    if (auto* screen = QGuiApplication::primaryScreen())
        return screen->availableGeometry().height();
    return std::nullopt;
}

}  // namespace kestrune
