#include "shell/welcome/WelcomeWindowController.hpp"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>
#include <cstdlib>

#include "Kestrune/settings/SettingsStore.hpp"
#include "Kestrune/settings/ui/InterfaceLanguageSignal.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "shell/common/ClosingWindow.hpp"
#include "shell/common/TriggerKeyPicker.hpp"
#include "shell/welcome/WelcomeView.hpp"

namespace kestrune {

namespace {

bool waylandWithoutX() {
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const char* x = std::getenv("DISPLAY");
    return wayland && *wayland && !(x && *x);
}

}  // namespace

WelcomeWindowController::WelcomeWindowController(Dependencies dependencies)
    : dependencies_(std::move(dependencies)),
      model_({.defaults = dependencies_.settings.defaults(),
              .isTrusted = dependencies_.isTrusted,
              .isWaylandOnly = dependencies_.isWaylandOnly ? dependencies_.isWaylandOnly
                                                           : std::function<bool()>(waylandWithoutX),
              .speechHint = [this]() -> std::optional<std::string> {
                  if (!dependencies_.speechHint) return std::nullopt;
                  return dependencies_.speechHint(
                      dependencies_.settings.selectedLanguage().value());
              }}) {
    languageSubscription_ = InterfaceLanguageSignal::observe([this] { retranslate(); });
}

WelcomeWindowController::~WelcomeWindowController() {
    if (window_) {
        window_->onClose = nullptr;
        // Dictation must not keep writing into a window that is gone.
        if (window_->isVisible() && dependencies_.setFinalTextOverride) {
            dependencies_.setFinalTextOverride({});
        }
    }
}

bool WelcomeWindowController::shouldShowAtLaunch(const UserDefaults& defaults) {
    return WelcomeModel::shouldShowOnLaunch(defaults);
}

bool WelcomeWindowController::shouldShowAtLaunch(const SettingsStore& settings) {
    return WelcomeModel::shouldShowOnLaunch(*settings.defaults());
}

void WelcomeWindowController::show() {
    const bool wasVisible = isVisible();
    if (!window_) {
        window_ = std::make_unique<ClosingWindow>();
        window_->onClose = [this] { windowClosed(); };
        // Titled and closable only: no minimise or maximise, like the settings window.
        window_->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                Qt::WindowCloseButtonHint);
        auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), window_.get());
        QObject::connect(escape, &QShortcut::activated, window_.get(), [this] { close(); });
        auto* layout = new QVBoxLayout(window_.get());
        layout->setContentsMargins(0, 0, 0, 0);
        poll_ = new QTimer(window_.get());
        poll_->setInterval(kPollMilliseconds);
        QObject::connect(poll_, &QTimer::timeout, window_.get(),
                         [this] { model_.refreshAccessibility(); });
        followSettings();
        makeView();
    }
    model_.refreshAccessibility();
    poll_->start();
    if (!wasVisible) {
        // Centred on the screen the first time and whenever it reopens.
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            const QRect area = screen->availableGeometry();
            window_->move(area.center() - QPoint(window_->width() / 2, window_->height() / 2));
        }
    }
    window_->show();
    window_->raise();
    window_->activateWindow();
    if (!wasVisible) {
        view_->picker()->setFocus();
        if (dependencies_.setFinalTextOverride) {
            dependencies_.setFinalTextOverride(
                [this](const std::string& text) { model_.showTranscript(text); });
        }
    }
}

void WelcomeWindowController::close() {
    if (window_) window_->close();
}

bool WelcomeWindowController::isVisible() const {
    return window_ && window_->isVisible();
}

QWidget* WelcomeWindowController::window() const {
    return window_.get();
}

void WelcomeWindowController::retranslate() {
    if (!window_) return;
    const bool hadFocus = view_ && view_->isAncestorOf(QApplication::focusWidget());
    // The hint is a text of the interface language too.
    model_.refreshSpeechHint();
    makeView();
    if (hadFocus) view_->picker()->setFocus();
}

void WelcomeWindowController::makeView() {
    if (view_) {
        window_->layout()->removeWidget(view_);
        view_->hide();
        view_->deleteLater();
    }
    auto& settings = dependencies_.settings;
    view_ = new WelcomeView(
        {.model = model_,
         .currentKey = settings.triggerKey().value(),
         // Only through the coordinator: had the key been stored first, it would take the choice
         // for no change and keep watching the old key.
         .onTriggerKeyChange = dependencies_.onTriggerKeyChange,
         .currentLanguage = settings.selectedLanguage().value(),
         .onLanguageChange =
             [&settings](AppLanguage language) { settings.setSelectedLanguage(language); },
         .onOpenSettings = dependencies_.openSettings,
         .onDone = [this] { close(); },
         .onHeightChange = [this] { applyLayout(); }},
        window_.get());
    window_->layout()->addWidget(view_);
    window_->setWindowTitle(QString::fromStdString(localized("Welcome to Murrelo")));
    applyLayout();
}

void WelcomeWindowController::followSettings() {
    auto& settings = dependencies_.settings;
    settingsSubscriptions_.push_back(settings.triggerKey().subscribe([this](const TriggerKey& key) {
        if (view_) view_->setCurrentKey(key);
    }));
    settingsSubscriptions_.push_back(
        settings.selectedLanguage().subscribe([this](AppLanguage language) {
            if (view_) view_->setCurrentLanguage(language);
            model_.refreshSpeechHint();
        }));
    // Whether a recognizer serves the language changes with the recognizer's settings.
    const auto recheck = [this](const auto&) { model_.refreshSpeechHint(); };
    settingsSubscriptions_.push_back(settings.speechEngine().subscribe(recheck));
    settingsSubscriptions_.push_back(settings.transcriptionBaseURL().subscribe(recheck));
    settingsSubscriptions_.push_back(settings.transcriptionAPIKey().subscribe(recheck));
    settingsSubscriptions_.push_back(settings.transcriptionModel().subscribe(recheck));
}

void WelcomeWindowController::applyLayout() {
    if (!view_) return;
    // The content's height at its fixed width; the top edge stays where it was.
    const int width = WelcomeView::kWidth;
    QLayout* layout = view_->layout();
    // A line just hidden still counts in the cached heights of the layouts around it until the
    // next pass; each nested layout keeps its own.
    for (QLayout* nested : view_->findChildren<QLayout*>()) nested->invalidate();
    const int height = layout->hasHeightForWidth() ? layout->totalHeightForWidth(width)
                                                   : layout->totalSizeHint().height();
    if (window_->width() == width && window_->height() == height) return;
    const QPoint topLeft = window_->pos();
    window_->setFixedSize(width, height);
    if (window_->isVisible()) window_->move(topLeft);
}

void WelcomeWindowController::windowClosed() {
    poll_->stop();
    model_.windowClosed();
    if (dependencies_.setFinalTextOverride) dependencies_.setFinalTextOverride({});
    // Once the close event is over: the owner may drop this controller, and with it the window
    // whose event is being handled. Dropped with the window if that happens first.
    if (dependencies_.onClose) QTimer::singleShot(0, window_.get(), dependencies_.onClose);
}

}  // namespace kestrune
