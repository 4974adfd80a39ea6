#include "shell/settings/SettingsView.hpp"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>
#include <chrono>

#include "Kestrune/defaults/UserDefaults.hpp"
#include "Kestrune/phone/settings/PhoneSettingsModel.hpp"
#include "Kestrune/phone/settings/RemoteDeviceRow.hpp"
#include "Kestrune/settings/SettingsStore.hpp"
#include "Kestrune/settings/ui/InterfaceLanguageSignal.hpp"
#include "KestruneRemoteKit/L10n/InterfaceLanguage.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "shell/common/TriggerKeyPicker.hpp"
#include "shell/settings/HotKeyRecorder.hpp"
#include "shell/settings/SettingsStyle.hpp"
#include "shell/settings/TriggerKeyRecorder.hpp"

namespace kestrune {

using settings_style::qt;

namespace {

constexpr int kMargin = 16;
constexpr int kSectionSpacing = 12;
constexpr std::string_view kPasteKey = PhoneSettingsModel::kUsePasteKey;
constexpr std::string_view kOriginalImagesKey = PhoneSettingsModel::kSendOriginalImagesKey;

// The widgets that take focus from Tab, in the order their layouts place them.
void collectFocusable(QLayout* layout, std::vector<QWidget*>& found);

void collectFocusable(QWidget* widget, std::vector<QWidget*>& found) {
    if (widget->focusPolicy() & Qt::TabFocus) found.push_back(widget);
    if (auto* scroll = qobject_cast<QScrollArea*>(widget)) {
        if (scroll->widget()) collectFocusable(scroll->widget(), found);
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

// A status line: green after a successful test, else the secondary colour.
void showStatus(QLabel* label, const std::string& text, bool success) {
    label->setText(qt(text));
    label->setAccessibleName(label->text());
    settings_style::makeCaption(label, settings_style::kBodyPixels);
    if (success) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, QColor(0x1a, 0x7f, 0x37));
        label->setPalette(palette);
    }
}

std::string engineTitle(SpeechEnginePreference preference) {
    switch (preference) {
        case SpeechEnginePreference::automatic:
            return localized("Automatic");
        case SpeechEnginePreference::builtIn:
            return localized("Built-in (English only)");
        case SpeechEnginePreference::online:
            return localized("Online");
    }
    return {};
}

}  // namespace

SettingsView::SettingsView(SettingsPane pane, SettingsViewContext context, QWidget* parent)
    : QWidget(parent), context_(std::move(context)) {
    column_ = new QVBoxLayout(this);
    column_->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
    column_->setSpacing(kSectionSpacing);
    for (auto shown : sections(pane)) column_->addWidget(section(shown));
    column_->addStretch(1);
    restoreTabOrder();
}

SettingsView::~SettingsView() = default;

void SettingsView::restoreTabOrder() {
    std::vector<QWidget*> order;
    collectFocusable(layout(), order);
    for (std::size_t i = 1; i < order.size(); ++i) QWidget::setTabOrder(order[i - 1], order[i]);
}

int SettingsView::fittingHeight(int width) const {
    auto* layout = this->layout();
    layout->activate();
    return layout->hasHeightForWidth() ? layout->totalHeightForWidth(width)
                                       : layout->totalSizeHint().height();
}

QWidget* SettingsView::section(SettingsSection shown) {
    auto* box = new QGroupBox(qt(title(shown)));
    QFont font = box->font();
    font.setPixelSize(settings_style::kValuePixels);
    font.setWeight(QFont::DemiBold);
    box->setFont(font);
    box->setAccessibleName(box->title());
    QWidget* content = nullptr;
    switch (shown) {
        case SettingsSection::pushToTalk:
            content = pushToTalk();
            break;
        case SettingsSection::recognition:
            content = recognition();
            break;
        case SettingsSection::launchAtLogin:
            content = launchAtLogin();
            break;
        case SettingsSection::pairedPhones:
            content = pairedPhones();
            break;
        case SettingsSection::phoneOptions:
            content = phoneOptions();
            break;
        case SettingsSection::imageDestination:
            content = imageDestination();
            break;
        case SettingsSection::sendToPhone:
            content = sendToPhone();
            break;
        case SettingsSection::llm:
            content = llm();
            break;
        case SettingsSection::interfaceLanguage:
            content = interfaceLanguage();
            break;
        case SettingsSection::welcome:
            content = welcome();
            break;
    }
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

QWidget* SettingsView::pushToTalk() {
    auto& deps = context_.dependencies;
    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* picker = new TriggerKeyPicker({.onChange = deps.onTriggerKeyChange});
    picker->setObjectName("triggerKeyPicker");
    auto* recorder = new TriggerKeyRecorder({
        .current = [&deps] { return deps.settings.triggerKey().value(); },
        .onCapture = deps.onTriggerKeyChange,
    });
    recorder->setObjectName("triggerKeyRecorder");
    layout->addWidget(picker);
    layout->addWidget(caption(SettingsControls::triggerKeyCaption()));
    layout->addWidget(recorder);
    subscriptions_.push_back(deps.settings.triggerKey().subscribe(
        [picker = QPointer(picker), recorder = QPointer(recorder)](const TriggerKey& key) {
            if (picker) picker->setCurrentKey(key);
            if (recorder) recorder->refresh();
        }));
    return content;
}

QWidget* SettingsView::recognition() {
    auto& deps = context_.dependencies;
    auto* content = new QWidget;
    auto* form = new QFormLayout(content);
    form->setContentsMargins(0, 0, 0, 0);
    auto* engine = new QComboBox;
    engine->setObjectName("speechEngine");
    for (auto preference : {SpeechEnginePreference::automatic, SpeechEnginePreference::builtIn,
                            SpeechEnginePreference::online}) {
        engine->addItem(qt(engineTitle(preference)), static_cast<int>(preference));
        if (deps.settings.speechEngine().value() == preference)
            engine->setCurrentIndex(engine->count() - 1);
    }
    engine->setAccessibleName(qt(localized("Recognizer")));
    connect(engine, &QComboBox::activated, this, [&deps, engine](int index) {
        deps.settings.setSpeechEngine(
            static_cast<SpeechEnginePreference>(engine->itemData(index).toInt()));
    });
    form->addRow(qt(localized("Recognizer")), engine);
    auto& drafts = context_.transcriptionDrafts;
    const auto edited = [this] { updateTranscriptionStatus(); };
    form->addRow(qt(title(LLMField::baseURL)),
                 draftField(drafts, LLMField::baseURL,
                            std::string(SettingsStore::kDefaultTranscriptionBaseURL), edited));
    form->addRow(qt(title(LLMField::apiKey)),
                 draftField(drafts, LLMField::apiKey, "sk-...", edited));
    form->addRow(qt(title(LLMField::model)),
                 draftField(drafts, LLMField::model,
                            std::string(SettingsStore::kDefaultTranscriptionModel), edited));
    transcriptionStatus_ = new QLabel;
    transcriptionStatus_->setObjectName("transcriptionStatus");
    transcriptionStatus_->setWordWrap(true);
    transcriptionTest_ = button(localized("Test"));
    transcriptionTest_->setObjectName("testTranscription");
    connect(transcriptionTest_, &QPushButton::clicked, this, [this] { testTranscription(); });
    auto* row = new QHBoxLayout;
    row->addWidget(transcriptionStatus_, 1);
    row->addWidget(transcriptionTest_);
    form->addRow(row);
    form->addRow(caption(localized(
        "Built-in recognition works offline, in English only. The online service transcribes "
        "every language; the recording is sent to it when you release the key.")));
    updateTranscriptionStatus();
    return content;
}

QWidget* SettingsView::launchAtLogin() {
    auto& login = context_.dependencies.launchAtLogin;
    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 0);
    launchAtLogin_ = checkBox(localized("Launch at Login"), false);
    launchAtLogin_->setObjectName("launchAtLogin");
    launchAtLoginNote_ = caption(std::string());
    launchAtLoginNote_->setObjectName("launchAtLoginNote");
    connect(launchAtLogin_, &QCheckBox::toggled, this, [this, &login](bool on) {
        std::string failure;
        if (login.setOn) {
            if (auto changed = login.setOn(on); !changed) failure = changed.error();
        }
        refreshLaunchAtLogin();
        if (!failure.empty()) {
            launchAtLoginNote_->setText(qt(failure));
            launchAtLoginNote_->setVisible(true);
        }
    });
    layout->addWidget(launchAtLogin_);
    layout->addWidget(launchAtLoginNote_);
    refreshLaunchAtLogin();
    return content;
}

void SettingsView::refreshLaunchAtLogin() {
    if (!launchAtLogin_) return;
    const auto& login = context_.dependencies.launchAtLogin;
    const QSignalBlocker blocker(launchAtLogin_);
    launchAtLogin_->setChecked(login.isOn && login.isOn());
    launchAtLogin_->setEnabled(login.isAvailable && login.isAvailable());
    const std::string note = login.note ? login.note() : std::string();
    launchAtLoginNote_->setText(qt(note));
    launchAtLoginNote_->setVisible(!note.empty());
    if (context_.contentChanged && isVisible()) context_.contentChanged();
}

QWidget* SettingsView::pairedPhones() {
    auto& phone = context_.dependencies.phone;
    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* pair = button(localized("Pair a New Phone…"));
    pair->setObjectName("pairNewPhone");
    connect(pair, &QPushButton::clicked, this, [&phone] { phone.turnOnAndPair(); });
    auto* row = new QHBoxLayout;
    row->addWidget(pair);
    row->addStretch(1);
    layout->addLayout(row);
    phoneList_ = new QWidget;
    phoneList_->setObjectName("phoneList");
    new QVBoxLayout(phoneList_);
    phoneList_->layout()->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(phoneList_);
    fillPhoneList();
    subscriptions_.push_back(phone.observeChanges([this] {
        fillPhoneList();
        restoreTabOrder();
        if (folderName_) {
            const auto& deps = context_.dependencies;
            const auto folder = deps.phone.imageSaveFolder();
            folderName_->setText(qt(deps.folderDisplayName ? deps.folderDisplayName(folder)
                                                           : folder.filename().string()));
        }
        if (context_.contentChanged) context_.contentChanged();
    }));
    return content;
}

void SettingsView::fillPhoneList() {
    auto& deps = context_.dependencies;
    auto* listLayout = phoneList_->layout();
    while (auto* item = listLayout->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    const auto& devices = deps.phone.devices().value();
    if (devices.empty()) {
        auto* none = caption(localized("No paired phones"));
        none->setObjectName("noPairedPhones");
        QFont font = none->font();
        font.setPixelSize(settings_style::kBodyPixels);
        none->setFont(font);
        listLayout->addWidget(none);
        none->show();
        return;
    }
    std::optional<int> screenHeight;
    if (deps.availableScreenHeight) {
        screenHeight = deps.availableScreenHeight();
    } else if (auto* screen = QGuiApplication::primaryScreen()) {
        screenHeight = screen->availableGeometry().height();
    }
    const auto rowsLayout =
        SettingsControls::phoneListLayout(static_cast<int>(devices.size()), screenHeight);
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
        auto* remove = button(localized("Remove…"));
        remove->setAccessibleName(qt(localizedFormat("Remove “%s”?", {device.name})));
        connect(remove, &QPushButton::clicked, this,
                [&deps, device] { deps.phone.requestRemoval(device); });
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

QWidget* SettingsView::phoneOptions() {
    auto& phone = context_.dependencies.phone;
    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* paste = checkBox(localized("Type by Pasting (for apps that ignore direct input)"),
                           phone.flag(kPasteKey));
    paste->setObjectName("typeByPasting");
    connect(paste, &QCheckBox::toggled, this, [&phone](bool on) { phone.setFlag(kPasteKey, on); });
    auto* original = checkBox(localized("Send Images to Phone at Original Size"),
                              phone.flag(kOriginalImagesKey));
    original->setObjectName("originalImages");
    connect(original, &QCheckBox::toggled, this,
            [&phone](bool on) { phone.setFlag(kOriginalImagesKey, on); });
    auto* idle = checkBox(localizedFormat("Turn off after %d minutes without activity",
                                          {PhoneSettingsModel::kIdleTimeoutMinutes}),
                          phone.idleTimeoutEnabled());
    idle->setObjectName("idleTimeout");
    connect(idle, &QCheckBox::toggled, this,
            [&phone](bool on) { phone.setIdleTimeoutEnabled(on); });
    layout->addWidget(paste);
    layout->addWidget(original);
    layout->addWidget(idle);
    return content;
}

QWidget* SettingsView::imageDestination() {
    auto& deps = context_.dependencies;
    auto& phone = deps.phone;
    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* front = new QRadioButton(qt(localized("The folder in the front file manager window")));
    front->setObjectName("saveToFrontWindow");
    auto* fixed = new QRadioButton(qt(localized("A folder I choose")));
    fixed->setObjectName("saveToFixedFolder");
    for (auto* radio : {front, fixed}) radio->setAccessibleName(radio->text());
    auto* group = new QButtonGroup(content);
    group->addButton(front);
    group->addButton(fixed);
    (phone.imageSaveMode() == ImageSaveLocation::Mode::frontFileManagerWindow ? front : fixed)
        ->setChecked(true);
    connect(front, &QRadioButton::toggled, this, [&phone](bool on) {
        phone.setImageSaveMode(on ? ImageSaveLocation::Mode::frontFileManagerWindow
                                  : ImageSaveLocation::Mode::fixed);
    });
    const auto folder = phone.imageSaveFolder();
    folderName_ = new QLabel(
        qt(deps.folderDisplayName ? deps.folderDisplayName(folder) : folder.filename().string()));
    folderName_->setObjectName("imageFolder");
    settings_style::makeBody(folderName_);
    auto* choose = button(localized("Choose…"));
    choose->setObjectName("chooseImageFolder");
    connect(choose, &QPushButton::clicked, this, [&phone] { phone.chooseImageSaveFolder(); });
    auto* row = new QHBoxLayout;
    row->addWidget(folderName_, 1);
    row->addWidget(choose);
    layout->addWidget(front);
    layout->addWidget(fixed);
    layout->addLayout(row);
    layout->addWidget(caption(localized(
        "This folder is also used when no file manager window is open. If your file manager "
        "doesn’t tell Murrelo which folder it shows, images go to this folder.")));
    return content;
}

QWidget* SettingsView::sendToPhone() {
    auto& deps = context_.dependencies;
    auto* recorder = new HotKeyRecorder({
        .current = [&deps] { return deps.settings.sendToPhoneHotKey().value(); },
        .onChange =
            [&deps](std::optional<GlobalHotKey> hotKey) {
                deps.settings.setSendToPhoneHotKey(hotKey);
            },
        .onRecordingChange = deps.onHotKeyRecording,
    });
    recorder->setObjectName("hotKeyRecorder");
    subscriptions_.push_back(deps.settings.sendToPhoneHotKey().subscribe(
        [recorder = QPointer(recorder)](const std::optional<GlobalHotKey>&) {
            if (recorder) recorder->refresh();
        }));
    return recorder;
}

QLineEdit* SettingsView::draftField(SettingsControls::DraftForm& form, LLMField field,
                                    const std::string& placeholder,
                                    const std::function<void()>& edited) {
    auto* edit = new QLineEdit(qt(form.value(field)));
    edit->setPlaceholderText(qt(placeholder));
    edit->setAccessibleName(qt(title(field)));
    connect(edit, &QLineEdit::textEdited, this, [&form, field, edited](const QString& text) {
        form.edit(field, text.toStdString());
        edited();
    });
    // Return and leaving the field both end the editing.
    connect(edit, &QLineEdit::editingFinished, this, [&form, field, edited] {
        form.commit(field);
        edited();
    });
    return edit;
}

QWidget* SettingsView::llm() {
    auto& settings = context_.dependencies.settings;
    auto* content = new QWidget;
    auto* form = new QFormLayout(content);
    form->setContentsMargins(0, 0, 0, 0);
    auto* enabled = checkBox(localized("Enable Refinement"), settings.llmEnabled().value());
    enabled->setObjectName("llmEnabled");
    connect(enabled, &QCheckBox::toggled, this, [this, &settings](bool on) {
        settings.setLLMEnabled(on);
        updateLLMStatus();
    });
    form->addRow(enabled);
    auto& drafts = context_.llmDrafts;
    const auto edited = [this] { updateLLMStatus(); };
    auto* baseURL =
        draftField(drafts, LLMField::baseURL, std::string(SettingsStore::kDefaultBaseURL), edited);
    baseURL->setObjectName("llmBaseURL");
    auto* apiKey = draftField(drafts, LLMField::apiKey, "sk-...", edited);
    apiKey->setObjectName("llmAPIKey");
    auto* model =
        draftField(drafts, LLMField::model, std::string(SettingsStore::kDefaultModel), edited);
    model->setObjectName("llmModel");
    form->addRow(qt(title(LLMField::baseURL)), baseURL);
    form->addRow(qt(title(LLMField::apiKey)), apiKey);
    form->addRow(qt(title(LLMField::model)), model);
    llmStatus_ = new QLabel;
    llmStatus_->setObjectName("llmStatus");
    llmStatus_->setWordWrap(true);
    llmTest_ = button(localized("Test"));
    llmTest_->setObjectName("testRefinement");
    connect(llmTest_, &QPushButton::clicked, this, [this] { testRefinement(); });
    auto* row = new QHBoxLayout;
    row->addWidget(llmStatus_, 1);
    row->addWidget(llmTest_);
    form->addRow(row);
    if (auto failure = settings.keyStoreFailure().value()) {
        auto* failureLine = caption(*failure);
        failureLine->setObjectName("keyStoreFailure");
        form->addRow(failureLine);
    }
    updateLLMStatus();
    return content;
}

void SettingsView::updateLLMStatus() {
    if (!llmStatus_) return;
    auto configuration = SettingsControls::testConfiguration(context_.llmDrafts);
    configuration.isEnabled = context_.dependencies.settings.llmEnabled().value();
    showStatus(llmStatus_, SettingsControls::llmStatusLine(llmTestResult_, configuration),
               llmTestSucceeded_);
}

void SettingsView::testRefinement() {
    auto& test = context_.dependencies.testRefinement;
    if (!test) return;
    llmTestResult_ = localized("Testing…");
    llmTestSucceeded_ = false;
    llmTest_->setText(qt(localized("Testing…")));
    llmTest_->setEnabled(false);
    updateLLMStatus();
    test(SettingsControls::testConfiguration(context_.llmDrafts),
         [view = QPointer(this)](Result<void, std::string> outcome) {
             if (!view) return;
             view->llmTestSucceeded_ = outcome.ok();
             view->llmTestResult_ =
                 outcome ? localized("Success. The LLM endpoint responded.") : outcome.error();
             view->llmTest_->setText(qt(localized("Test")));
             view->llmTest_->setEnabled(true);
             view->updateLLMStatus();
         });
}

void SettingsView::updateTranscriptionStatus() {
    if (!transcriptionStatus_) return;
    showStatus(transcriptionStatus_, transcriptionTestResult_, transcriptionTestSucceeded_);
}

void SettingsView::testTranscription() {
    auto& test = context_.dependencies.testTranscription;
    if (!test) return;
    transcriptionTestResult_ = localized("Testing…");
    transcriptionTestSucceeded_ = false;
    transcriptionTest_->setText(qt(localized("Testing…")));
    transcriptionTest_->setEnabled(false);
    updateTranscriptionStatus();
    auto& drafts = context_.transcriptionDrafts;
    test(OnlineTranscriptionConfiguration{.baseURL = drafts.value(LLMField::baseURL),
                                          .apiKey = drafts.value(LLMField::apiKey),
                                          .model = drafts.value(LLMField::model)},
         [view = QPointer(this)](Result<void, std::string> outcome) {
             if (!view) return;
             view->transcriptionTestSucceeded_ = outcome.ok();
             view->transcriptionTestResult_ =
                 outcome ? localized("Success. The transcription service responded.")
                         : outcome.error();
             view->transcriptionTest_->setText(qt(localized("Test")));
             view->transcriptionTest_->setEnabled(true);
             view->updateTranscriptionStatus();
         });
}

QWidget* SettingsView::interfaceLanguage() {
    auto& defaults = context_.dependencies.defaults;
    auto* content = new QWidget;
    auto* form = new QFormLayout(content);
    form->setContentsMargins(0, 0, 0, 0);
    auto* picker = new QComboBox;
    picker->setObjectName("interfaceLanguage");
    picker->setAccessibleName(qt(localized("Interface Language")));
    const auto current = InterfaceLanguage::stored(
        [&defaults](std::string_view key) { return defaults->string(key); });
    for (auto language : InterfaceLanguage::allCases) {
        picker->addItem(qt(InterfaceLanguage(language).title()),
                        qt(std::string(InterfaceLanguage(language).rawValue())));
        if (InterfaceLanguage(language) == current) picker->setCurrentIndex(picker->count() - 1);
    }
    connect(picker, &QComboBox::activated, this, [&defaults](int index) {
        const InterfaceLanguage chosen =
            InterfaceLanguage::allCases.at(static_cast<std::size_t>(index));
        // Announced after this handler returns: relabelling rebuilds this very pane.
        chosen.select([&defaults](std::string_view key,
                                  const std::string& value) { defaults->set(key, value); },
                      [] { QTimer::singleShot(0, [] { InterfaceLanguageSignal::announce(); }); });
    });
    form->addRow(qt(localized("Interface Language")), picker);
    return content;
}

QWidget* SettingsView::welcome() {
    auto* content = new QWidget;
    auto* layout = new QHBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* show = button(localized("Show Welcome Window…"));
    show->setObjectName("showWelcome");
    connect(show, &QPushButton::clicked, this, [this] {
        if (context_.dependencies.onShowWelcome) context_.dependencies.onShowWelcome();
    });
    layout->addWidget(show);
    layout->addStretch(1);
    return content;
}

}  // namespace kestrune
