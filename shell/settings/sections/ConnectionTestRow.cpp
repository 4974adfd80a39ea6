#include "shell/settings/sections/ConnectionTestRow.hpp"

#include <QColor>
#include <QHBoxLayout>
#include <QLabel>
#include <QPalette>
#include <QPushButton>

#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "shell/settings/SettingsStyle.hpp"
#include "shell/settings/sections/SectionControls.hpp"

namespace kestrune {

using settings_style::qt;

ConnectionTestRow::ConnectionTestRow(Form& form, Texts texts, QWidget* parent)
    : QWidget(parent), form_(form), texts_(std::move(texts)) {
    status_ = new QLabel;
    status_->setObjectName(texts_.statusName);
    status_->setWordWrap(true);
    button_ = section_controls::button(localized("Test"));
    button_->setObjectName(texts_.buttonName);
    connect(button_, &QPushButton::clicked, this, [this] { runTest(); });
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(status_, 1);
    row->addWidget(button_);
    updateStatus();
}

void ConnectionTestRow::updateStatus() {
    status_->setText(qt(form_.statusLine(testResult_)));
    status_->setAccessibleName(status_->text());
    settings_style::makeCaption(status_, settings_style::kBodyPixels);
    if (succeeded_) {
        QPalette palette = status_->palette();
        palette.setColor(QPalette::WindowText, QColor(0x1a, 0x7f, 0x37));
        status_->setPalette(palette);
    }
}

void ConnectionTestRow::runTest() {
    const auto test = form_.test();
    if (!test) return;
    testResult_ = localized("Testing…");
    succeeded_ = false;
    button_->setText(qt(localized("Testing…")));
    button_->setEnabled(false);
    updateStatus();
    test(lifetime_.guard([this](Outcome outcome) {
        succeeded_ = outcome.ok();
        testResult_ = outcome ? texts_.success : outcome.error();
        button_->setText(qt(localized("Test")));
        button_->setEnabled(true);
        updateStatus();
    }));
}

}  // namespace kestrune
