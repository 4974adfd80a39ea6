#include "shell/settings/SettingsWindowController.hpp"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QGuiApplication>
#include <QIcon>
#include <QKeySequence>
#include <QScreen>
#include <QScrollArea>
#include <QShortcut>
#include <QStackedWidget>
#include <QStyle>
#include <QToolBar>
#include <QVBoxLayout>
#include <QVariantAnimation>
#include <QWidget>
#include <algorithm>
#include <vector>

#include "Kestrune/defaults/UserDefaults.hpp"
#include "Kestrune/settings/SettingsStore.hpp"
#include "Kestrune/settings/ui/InterfaceLanguageSignal.hpp"
#include "Kestrune/settings/ui/SettingsControls.hpp"
#include "shell/settings/SettingsStyle.hpp"
#include "shell/settings/SettingsView.hpp"

namespace kestrune {

using settings_style::qt;

namespace {

// Long enough to follow, short enough not to wait for.
constexpr int kResizeMilliseconds = 150;

// A pane's symbol from the icon theme, with one of the style's own when the theme lacks it.
QIcon paneIcon(SettingsPane pane) {
    static const QStyle::StandardPixmap kFallbacks[] = {
        QStyle::SP_ComputerIcon, QStyle::SP_MediaVolume, QStyle::SP_DriveNetIcon,
        QStyle::SP_FileDialogContentsView};
    return QIcon::fromTheme(
        qt(std::string(themeIconName(pane))),
        QApplication::style()->standardIcon(kFallbacks[static_cast<std::size_t>(pane)]));
}

}  // namespace

class SettingsWindowController::Impl {
  public:
    class Window final : public QWidget {
      public:
        explicit Window(Impl& owner) : owner_(owner) {}

      protected:
        void closeEvent(QCloseEvent* event) override {
            // Hidden, never destroyed: the next showing reuses it.
            event->accept();
            owner_.willClose();
        }

      private:
        Impl& owner_;
    };

    explicit Impl(Dependencies dependencies)
        : deps(std::move(dependencies)),
          llmDrafts(SettingsControls::llmDrafts(deps.settings)),
          transcriptionDrafts(SettingsControls::transcriptionDrafts(deps.settings)) {
        languageSubscription = InterfaceLanguageSignal::observe([this] { reload(); });
    }

    ~Impl() {
        if (animation) animation->stop();
    }

    void build() {
        window = std::make_unique<Window>(*this);
        window->setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
        auto* column = new QVBoxLayout(window.get());
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(0);
        toolbar = new QToolBar;
        toolbar->setObjectName("settingsTabs");
        toolbar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        toolbar->setMovable(false);
        toolbar->setFloatable(false);
        toolbar->setIconSize(QSize(24, 24));
        tabs = new QActionGroup(toolbar);
        tabs->setExclusive(true);
        stack = new QStackedWidget;
        stack->setObjectName("settingsPanes");
        for (auto pane : kAllSettingsPanes) {
            auto* action = toolbar->addAction(paneIcon(pane), QString());
            action->setCheckable(true);
            tabs->addAction(action);
            actions.push_back(action);
            QObject::connect(action, &QAction::triggered, window.get(),
                             [this, pane] { select(pane, true); });
        }
        // The tabs sit in the middle of the bar, as a preferences toolbar's do.
        auto* leading = new QWidget;
        leading->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
        toolbar->insertWidget(actions.front(), leading);
        auto* trailing = new QWidget;
        trailing->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
        toolbar->addWidget(trailing);
        column->addWidget(toolbar);
        column->addWidget(stack, 1);
        buildPanes();
        labelTabs();

        auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), window.get());
        QObject::connect(escape, &QShortcut::activated, window.get(), [this] { window->close(); });
        // The keyboard reaches the tabs too: Ctrl+Tab and Ctrl+Shift+Tab go round them.
        auto* next = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Tab), window.get());
        QObject::connect(next, &QShortcut::activated, window.get(), [this] { step(1); });
        // With Shift, X reports the Tab key as ISO_Left_Tab (Backtab); either spelling is taken.
        auto* previous = new QShortcut(window.get());
        previous->setKeys({QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab),
                           QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab)});
        QObject::connect(previous, &QShortcut::activated, window.get(), [this] { step(-1); });
        // Coming back to the application may find launch at login changed elsewhere.
        QObject::connect(qApp, &QGuiApplication::applicationStateChanged, window.get(),
                         [this](Qt::ApplicationState state) {
                             if (state != Qt::ApplicationActive) return;
                             if (deps.launchAtLogin.refresh) deps.launchAtLogin.refresh();
                             for (auto* view : views) view->refresh();
                         });

        const auto stored = deps.defaults->string(kSettingsLastPaneKey);
        const auto pane = stored ? settingsPaneFromRawValue(*stored) : std::nullopt;
        current = pane.value_or(SettingsPane::general);
        showCurrent(false);
    }

    void buildPanes() {
        while (stack->count() > 0) {
            auto* old = stack->widget(0);
            stack->removeWidget(old);
            delete old;
        }
        views.clear();
        for (auto pane : kAllSettingsPanes) {
            auto* view = new SettingsView(pane, SettingsViewContext{
                                                    .dependencies = deps,
                                                    .llmDrafts = llmDrafts,
                                                    .transcriptionDrafts = transcriptionDrafts,
                                                    .contentChanged = [this] { fit(animated()); },
                                                });
            // The window is as high as the pane unless the screen is lower; then it scrolls.
            auto* scroll = new QScrollArea;
            scroll->setFrameShape(QFrame::NoFrame);
            scroll->setWidgetResizable(true);
            scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
            scroll->setFocusPolicy(Qt::NoFocus);
            scroll->setWidget(view);
            stack->addWidget(scroll);
            views.push_back(view);
        }
    }

    void labelTabs() {
        for (auto pane : kAllSettingsPanes) {
            auto* action = actions[static_cast<std::size_t>(pane)];
            action->setText(qt(title(pane)));
            action->setToolTip(action->text());
            action->setIcon(paneIcon(pane));
        }
        // Tool buttons take their accessible name from the action's text; Tab reaches them.
        for (auto* action : actions) {
            if (auto* button = toolbar->widgetForAction(action)) {
                button->setAccessibleName(action->text());
                button->setFocusPolicy(Qt::StrongFocus);
            }
        }
    }

    void step(int by) {
        const int count = static_cast<int>(kAllSettingsPanes.size());
        const int index = (static_cast<int>(current) + by + count) % count;
        select(kAllSettingsPanes[static_cast<std::size_t>(index)], true);
    }

    bool animated() const {
        if (deps.reduceMotion) return !deps.reduceMotion();
        return QApplication::isEffectEnabled(Qt::UI_General);
    }

    void select(SettingsPane pane, bool byUser) {
        llmDrafts.commitAll();
        transcriptionDrafts.commitAll();
        current = pane;
        deps.defaults->set(kSettingsLastPaneKey, std::string(rawValue(pane)));
        showCurrent(byUser && animated());
    }

    void showCurrent(bool animate) {
        const auto index = static_cast<int>(current);
        actions[static_cast<std::size_t>(index)]->setChecked(true);
        stack->setCurrentIndex(index);
        window->setWindowTitle(qt(title(current)));
        fit(animate);
    }

    int fittingHeight() const {
        const auto* view = views[static_cast<std::size_t>(current)];
        const int fitting =
            toolbar->sizeHint().height() + view->fittingHeight(settings_style::kWindowWidth);
        std::optional<int> screenHeight;
        if (deps.availableScreenHeight) {
            screenHeight = deps.availableScreenHeight();
        } else if (auto* screen = window->screen()) {
            screenHeight = screen->availableGeometry().height();
        }
        // A pane taller than the screen would leave its lower part out of reach.
        return screenHeight ? std::min(fitting, *screenHeight) : fitting;
    }

    // Width fixed, height the pane's; a top-level window keeps its top-left corner on resizing,
    // so the top edge stays where it was.
    void fit(bool animate) {
        const int target = fittingHeight();
        if (animation) animation->stop();
        const int from = window->height();
        if (!animate || !window->isVisible() || from == target) {
            window->setFixedSize(settings_style::kWindowWidth, target);
            return;
        }
        animation = new QVariantAnimation(window.get());
        animation->setDuration(kResizeMilliseconds);
        animation->setStartValue(from);
        animation->setEndValue(target);
        animation->setEasingCurve(QEasingCurve::InOutQuad);
        QObject::connect(animation, &QVariantAnimation::valueChanged, window.get(),
                         [this](const QVariant& value) {
                             window->setFixedSize(settings_style::kWindowWidth, value.toInt());
                         });
        animation->start(QAbstractAnimation::DeleteWhenStopped);
    }

    // The drafts live here, so the rebuilt fields show what was typed, still uncommitted.
    void reload() {
        if (!window) return;
        labelTabs();
        buildPanes();
        showCurrent(false);
    }

    void willClose() {
        llmDrafts.commitAll();
        transcriptionDrafts.commitAll();
        // Hiding stops a recording; the suspended shortcut is registered again either way.
        if (deps.onHotKeyRecording) deps.onHotKeyRecording(false);
    }

    Dependencies deps;
    SettingsControls::DraftForm llmDrafts;
    SettingsControls::DraftForm transcriptionDrafts;
    Subscription languageSubscription;
    std::unique_ptr<Window> window;
    QToolBar* toolbar = nullptr;
    QActionGroup* tabs = nullptr;
    QStackedWidget* stack = nullptr;
    std::vector<QAction*> actions;
    std::vector<SettingsView*> views;
    QPointer<QVariantAnimation> animation;
    SettingsPane current = SettingsPane::general;
};

SettingsWindowController::SettingsWindowController(Dependencies dependencies)
    : impl_(std::make_unique<Impl>(std::move(dependencies))) {}

SettingsWindowController::~SettingsWindowController() = default;

void SettingsWindowController::show() {
    if (!impl_->window) impl_->build();
    if (impl_->deps.launchAtLogin.refresh) impl_->deps.launchAtLogin.refresh();
    // Each opening starts in the middle of the screen the pointer is on (where the tray menu was
    // used); an open window stays where the user put it.
    if (!impl_->window->isVisible()) {
        const QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
        if (!screen) screen = QGuiApplication::primaryScreen();
        if (screen) {
            QRect frame = impl_->window->frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            impl_->window->move(frame.topLeft());
        }
    }
    impl_->window->show();
    impl_->window->raise();
    impl_->window->activateWindow();
}

void SettingsWindowController::showPane(SettingsPane pane) {
    show();
    impl_->select(pane, false);
}

std::optional<SettingsPane> SettingsWindowController::currentPane() const {
    if (!impl_->window) return std::nullopt;
    return impl_->current;
}

void SettingsWindowController::commitDrafts() {
    impl_->llmDrafts.commitAll();
    impl_->transcriptionDrafts.commitAll();
}

void SettingsWindowController::reloadForInterfaceLanguage() {
    impl_->reload();
}

QWidget* SettingsWindowController::window() const {
    return impl_->window.get();
}

}  // namespace kestrune
