#include "shell/settings/SettingsView.hpp"

#include <QAbstractItemView>
#include <QApplication>
#include <QGroupBox>
#include <QVBoxLayout>

#include "shell/settings/SettingsStyle.hpp"
#include "shell/settings/sections/ImageDestinationSection.hpp"
#include "shell/settings/sections/InterfaceLanguageSection.hpp"
#include "shell/settings/sections/LaunchAtLoginSection.hpp"
#include "shell/settings/sections/PairedPhonesSection.hpp"
#include "shell/settings/sections/PhoneOptionsSection.hpp"
#include "shell/settings/sections/PushToTalkSection.hpp"
#include "shell/settings/sections/RecognitionSection.hpp"
#include "shell/settings/sections/RefinementSection.hpp"
#include "shell/settings/sections/SendToPhoneSection.hpp"
#include "shell/settings/sections/WelcomeSection.hpp"

namespace kestrune {

using settings_style::qt;

namespace {

constexpr int kMargin = 16;
constexpr int kSectionSpacing = 12;

SettingsSectionView* makeSection(SettingsSection section, const SettingsViewContext& context) {
    switch (section) {
        case SettingsSection::pushToTalk:
            return new PushToTalkSection(context);
        case SettingsSection::recognition:
            return new RecognitionSection(context);
        case SettingsSection::launchAtLogin:
            return new LaunchAtLoginSection(context);
        case SettingsSection::pairedPhones:
            return new PairedPhonesSection(context);
        case SettingsSection::phoneOptions:
            return new PhoneOptionsSection(context);
        case SettingsSection::imageDestination:
            return new ImageDestinationSection(context);
        case SettingsSection::sendToPhone:
            return new SendToPhoneSection(context);
        case SettingsSection::llm:
            return new RefinementSection(context);
        case SettingsSection::interfaceLanguage:
            return new InterfaceLanguageSection(context);
        case SettingsSection::welcome:
            return new WelcomeSection(context);
    }
    return nullptr;
}

// The widgets that take focus from Tab, in the order their layouts place them.
void collectFocusable(QLayout* layout, std::vector<QWidget*>& found);

void collectFocusable(QWidget* widget, std::vector<QWidget*>& found) {
    if (widget->focusPolicy() & Qt::TabFocus) found.push_back(widget);
    // An item view's rows hold their controls outside any layout.
    if (auto* view = qobject_cast<QAbstractItemView*>(widget)) {
        const auto* model = view->model();
        for (int row = 0; model && row < model->rowCount(); ++row) {
            if (auto* control = view->indexWidget(model->index(row, 0)))
                collectFocusable(control, found);
        }
        return;
    }
    if (widget->layout()) collectFocusable(widget->layout(), found);
}

void collectFocusable(QLayout* layout, std::vector<QWidget*>& found) {
    for (int i = 0; i < layout->count(); ++i) {
        auto* item = layout->itemAt(i);
        if (auto* widget = item->widget()) {
            collectFocusable(widget, found);
        } else if (auto* inner = item->layout()) {
            collectFocusable(inner, found);
        }
    }
}

}  // namespace

SettingsView::SettingsView(SettingsPane pane, SettingsViewContext context, QWidget* parent)
    : QWidget(parent), context_(std::move(context)) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
    column->setSpacing(kSectionSpacing);
    SettingsViewContext sectionContext = context_;
    sectionContext.contentChanged = [this] {
        restoreTabOrder();
        if (context_.contentChanged) context_.contentChanged();
    };
    for (auto shown : sections(pane)) {
        auto* section = makeSection(shown, sectionContext);
        sections_.push_back(section);
        column->addWidget(box(shown, section));
    }
    column->addStretch(1);
    restoreTabOrder();
}

QWidget* SettingsView::box(SettingsSection section, SettingsSectionView* content) {
    auto* box = new QGroupBox(qt(title(section)));
    QFont font = box->font();
    font.setPixelSize(settings_style::kValuePixels);
    font.setWeight(QFont::DemiBold);
    box->setFont(font);
    box->setAccessibleName(box->title());
    // The box's title font is for the title only. Children inherit every font attribute their
    // own font does not set, so the content's weight and size are set explicitly.
    QFont normal = QApplication::font();
    normal.setWeight(QFont::Normal);
    normal.setPixelSize(settings_style::kValuePixels);
    content->setFont(normal);
    auto* layout = new QVBoxLayout(box);
    layout->addWidget(content);
    return box;
}

void SettingsView::restoreTabOrder() {
    std::vector<QWidget*> order;
    collectFocusable(layout(), order);
    for (std::size_t i = 1; i < order.size(); ++i) QWidget::setTabOrder(order[i - 1], order[i]);
}

int SettingsView::fittingHeight(int width) const {
    // A section's new height reaches this layout through an event that each layout on the way
    // posts to the next one up; activating them from the inside out takes it there now.
    for (auto* section : sections_) {
        for (QWidget* inner = section; inner != this; inner = inner->parentWidget())
            inner->layout()->activate();
    }
    auto* layout = this->layout();
    layout->activate();
    return layout->hasHeightForWidth() ? layout->totalHeightForWidth(width)
                                       : layout->totalSizeHint().height();
}

void SettingsView::refresh() {
    for (auto* section : sections_) section->refresh();
}

}  // namespace kestrune
