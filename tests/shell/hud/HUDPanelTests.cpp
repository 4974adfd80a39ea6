// The recording panel on an X server of the test's own, with two monitors side by side: its size
// with the real font, its place on the monitor holding the pointer, the focus and the clicks it
// leaves to the window below, its fade-out, and its look with and without a compositing manager.
//
// The screenshot under docs/ comes from the compositing test:
//   MURRELO_SCREENSHOT_DIR=$PWD/docs scripts/with-test-services
//     build/tests/shell/hud/hud_panel_tests --gtest_filter='*Compositing*'
// (one command line).
#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetricsF>
#include <QImage>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QAbstractAnimation>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "Kestrune/dictation/panel/HUDPanelLayout.hpp"
#include "Kestrune/settings/ui/InterfaceLanguageSignal.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "shell/hud/HUDPanelController.hpp"
#include "shell/hud/WaveformView.hpp"
#include "tests/support/QtEventPump.hpp"

// Last: Xlib's macros (Bool, Status, None) break Qt's headers.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xrandr.h>
#include <X11/extensions/shape.h>

namespace kestrune {
namespace {

using namespace std::chrono_literals;
using hud::HUDPanelLayout;
using testing::pumpEventsUntil;

// A laptop's display and a smaller one to its right, tops aligned.
constexpr int kLeftWidth = 1280;
constexpr int kLeftHeight = 800;
constexpr int kRightWidth = 1024;
constexpr int kRightHeight = 768;
// How long a second hide is watched for any effect: longer than the fade-out (0.22 s) it must not
// start again.
constexpr auto kNoOpWatch = 300ms;
// How far a colour on screen may be from the one expected (the sum of the channels' differences).
constexpr int kColourTolerance = 12;

// Starts a helper (the X server, the compositing manager) that ends with this process, even when
// a failed test aborts it.
pid_t spawn(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) ::_exit(127);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

void stop(pid_t pid) {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
}

void setMonitor(Display* display, const char* name, int x, int y, int width, int height,
                bool primary, RROutput output) {
    XRRMonitorInfo* monitor = XRRAllocateMonitor(display, output != 0 ? 1 : 0);
    monitor->name = XInternAtom(display, name, False);
    monitor->x = x;
    monitor->y = y;
    monitor->width = width;
    monitor->height = height;
    // About 96 pixels per inch.
    monitor->mwidth = width * 254 / 960;
    monitor->mheight = height * 254 / 960;
    monitor->primary = primary;
    if (output != 0) monitor->outputs[0] = output;
    XRRSetMonitor(display, DefaultRootWindow(display), monitor);
    XRRFreeMonitors(monitor);
}

// An X server of the test's own: one screen split into two RandR monitors, the left one primary
// and holding the screen's only output (so it is not listed a second time). Xvfb forgets client
// monitors when its last client leaves, hence -noreset.
class TwoMonitorServer final : public ::testing::Environment {
  public:
    void SetUp() override {
        int pipeFds[2];
        ASSERT_EQ(::pipe(pipeFds), 0);
        pid_ = spawn(
            {"Xvfb", "-displayfd", std::to_string(pipeFds[1]), "-screen", "0",
             std::to_string(kLeftWidth + kRightWidth) + "x" + std::to_string(kLeftHeight) + "x24",
             "-nolisten", "tcp", "-noreset"});
        ::close(pipeFds[1]);
        ASSERT_GT(pid_, 0) << "Xvfb does not start";
        std::string number;
        pollfd ready{.fd = pipeFds[0], .events = POLLIN, .revents = 0};
        char c;
        while (::poll(&ready, 1, 30000) == 1 && ::read(pipeFds[0], &c, 1) == 1 && c != '\n') {
            number += c;
        }
        ::close(pipeFds[0]);
        ASSERT_FALSE(number.empty()) << "Xvfb gave no display number";
        ::setenv("DISPLAY", (":" + number).c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);

        Display* display = XOpenDisplay(nullptr);
        ASSERT_NE(display, nullptr);
        XRRScreenResources* resources =
            XRRGetScreenResourcesCurrent(display, DefaultRootWindow(display));
        ASSERT_GT(resources->noutput, 0);
        setMonitor(display, "LEFT", 0, 0, kLeftWidth, kLeftHeight, true, resources->outputs[0]);
        setMonitor(display, "RIGHT", kLeftWidth, 0, kRightWidth, kRightHeight, false, 0);
        XRRFreeScreenResources(resources);
        XCloseDisplay(display);

        static int argc = 1;
        static char name[] = "hud-panel-tests";
        static char* argv[] = {name, nullptr};
        application_ = new QApplication(argc, argv);
    }

    void TearDown() override {
        delete application_;
        stop(pid_);
    }

  private:
    pid_t pid_ = -1;
    QApplication* application_ = nullptr;
};

[[maybe_unused]] const auto* const kServer =
    ::testing::AddGlobalTestEnvironment(new TwoMonitorServer);

std::vector<std::string> atomNames(Display* display, Window window, const char* property) {
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    std::vector<std::string> names;
    if (XGetWindowProperty(display, window, XInternAtom(display, property, False), 0, 64, False,
                           XA_ATOM, &type, &format, &count, &after, &data) == Success &&
        data != nullptr) {
        const auto* atoms = reinterpret_cast<const Atom*>(data);
        for (unsigned long i = 0; i < count; ++i) {
            char* name = XGetAtomName(display, atoms[i]);
            names.emplace_back(name);
            XFree(name);
        }
        XFree(data);
    }
    return names;
}

QImage grabScreen(const QRect& area) {
    return QGuiApplication::primaryScreen()
        ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

class HUDPanel : public ::testing::Test {
  protected:
    void SetUp() override {
        L10n::shared().setLanguageOverride("en");
        display_ = XOpenDisplay(nullptr);
        ASSERT_NE(display_, nullptr);
        panel_ = std::make_unique<HUDPanelController>();
    }

    void TearDown() override {
        panel_.reset();
        if (display_ != nullptr) XCloseDisplay(display_);
        L10n::shared().setLanguageOverride(std::nullopt);
    }

    void movePointer(int x, int y) {
        XTestFakeMotionEvent(display_, -1, x, y, CurrentTime);
        XSync(display_, False);
    }

    QRect frame() const { return panel_->window()->geometry(); }

    QLabel* label() const { return panel_->window()->findChild<QLabel*>(); }

    bool mapped() {
        XWindowAttributes attributes;
        XGetWindowAttributes(display_, static_cast<Window>(panel_->window()->winId()), &attributes);
        return attributes.map_state == IsViewable;
    }

    // Whether every animation of the panel (appearing, fading, gliding, the bars' steps) has ended.
    bool animationsEnded() const {
        const auto animations = panel_->window()->findChildren<QAbstractAnimation*>();
        return std::none_of(animations.begin(), animations.end(), [](const auto* animation) {
            return animation->state() == QAbstractAnimation::Running;
        });
    }

    // Runs the event loop until the panel's animations have ended.
    void settle() {
        pumpEventsUntil([&] { return animationsEnded(); });
    }

    // Runs the event loop until the panel's animations have ended and `done` holds, so that a
    // state that holds only in passing (mid-glide) is not taken for the end.
    template <typename Predicate>
    bool settlesAt(Predicate done) {
        return pumpEventsUntil([&] { return animationsEnded() && done(); });
    }

    // Runs the event loop until the panel's animations have ended and the screen shows `area` at
    // rest as `looks` expects: the same picture twice in a row, since a compositing manager draws
    // a little after the panel changes.
    template <typename Looks>
    void waitForRestingPicture(const QRect& area, Looks looks) {
        QImage previous;
        pumpEventsUntil([&] {
            if (!animationsEnded()) return false;
            QImage shot = grabScreen(area);
            const bool resting = shot == previous && looks(shot);
            previous = std::move(shot);
            return resting;
        });
    }

    Display* display_ = nullptr;
    std::unique_ptr<HUDPanelController> panel_;
};

TEST_F(HUDPanel, WidthFollowsTheTextAndLongTextIsCutShortAtItsEnd) {
    movePointer(200, 200);
    const QFontMetricsF metrics(label()->font());
    EXPECT_EQ(label()->font().pixelSize(), 15);
    EXPECT_EQ(panel_->window()->accessibleName(), "Dictation status");
    EXPECT_EQ(panel_->waveformView()->accessibleName(), "Microphone level");
    // The panel is created once at launch, so it must follow a later change of language.
    L10n::shared().setLanguageOverride("zh-Hans");
    InterfaceLanguageSignal::announce();
    EXPECT_EQ(panel_->window()->accessibleName(), "听写状态");
    EXPECT_EQ(panel_->waveformView()->accessibleName(), "麦克风音量");
    L10n::shared().setLanguageOverride("en");
    InterfaceLanguageSignal::announce();
    EXPECT_EQ(panel_->window()->accessibleName(), "Dictation status");

    panel_->show("");
    settle();
    EXPECT_EQ(panel_->text(), QString::fromUtf8("Listening\u2026"));
    EXPECT_EQ(frame().width(), HUDPanelLayout::kMinimumPanelWidth);
    EXPECT_EQ(frame().height(), 56);

    // A sentence: the panel grows to its measured width; the label sits after the waveform and
    // holds the whole text.
    const QString sentence = "Please send the report to Maria before Friday";
    panel_->show(sentence.toStdString());
    const int expected = static_cast<int>(std::ceil(metrics.horizontalAdvance(sentence))) + 4 + 94;
    ASSERT_GT(expected, HUDPanelLayout::kMinimumPanelWidth);
    ASSERT_LT(expected, HUDPanelLayout::kMaximumPanelWidth);
    EXPECT_TRUE(settlesAt([&] { return frame().width() == expected; })) << frame().width();
    EXPECT_EQ(panel_->shownText(), sentence);
    EXPECT_EQ(label()->geometry().left(), 16 + 44 + 14);
    EXPECT_EQ(label()->width(), expected - 94);
    EXPECT_GE(label()->width(), metrics.horizontalAdvance(sentence));

    // A long dictation stops the panel at its widest and ends the text with an ellipsis.
    QString paragraph;
    while (metrics.horizontalAdvance(paragraph) < 1500) paragraph += sentence + ", and ";
    panel_->show(paragraph.toStdString());
    EXPECT_DOUBLE_EQ(panel_->window()->windowOpacity(), 1.0)
        << "a visible panel does not appear again";
    EXPECT_TRUE(settlesAt([&] { return frame().width() == HUDPanelLayout::kMaximumPanelWidth; }));
    const QString shown = panel_->shownText();
    ASSERT_TRUE(shown.endsWith(QChar(0x2026))) << shown.toStdString();
    EXPECT_TRUE(paragraph.startsWith(shown.chopped(1)));
    EXPECT_LE(metrics.horizontalAdvance(shown), HUDPanelLayout::kMaximumTextWidth);
    EXPECT_EQ(label()->accessibleName(), paragraph) << "a screen reader reads all of it";

    // A one-word transcript brings it back to the narrowest.
    panel_->show("Hello");
    EXPECT_TRUE(settlesAt([&] { return frame().width() == HUDPanelLayout::kMinimumPanelWidth; }));
    EXPECT_EQ(panel_->shownText(), "Hello");
}

TEST_F(HUDPanel, AppearsOnTheMonitorHoldingThePointerAtEachShow) {
    ASSERT_EQ(QGuiApplication::screens().size(), 2);
    const QRect onRight((kLeftWidth + (kRightWidth - 254) / 2), kRightHeight - 56 - 56, 254, 56);
    const QRect onLeft((kLeftWidth - 254) / 2, kLeftHeight - 56 - 56, 254, 56);

    movePointer(kLeftWidth + 300, 200);
    panel_->show("Right");
    EXPECT_TRUE(settlesAt([&] { return frame() == onRight; }));
    EXPECT_EQ(frame(), onRight);

    panel_->hide();
    ASSERT_TRUE(pumpEventsUntil([&] { return !mapped(); }));
    movePointer(100, 700);
    panel_->show("Left");
    EXPECT_TRUE(settlesAt([&] { return frame() == onLeft; }));
    EXPECT_EQ(frame(), onLeft);

    // Shown again while visible, it glides over to where the pointer went.
    movePointer(kLeftWidth + 1000, 10);
    panel_->show("Right again");
    EXPECT_TRUE(settlesAt([&] { return frame() == onRight; }));
    EXPECT_EQ(frame(), onRight);
}

TEST_F(HUDPanel, LeavesTheFocusAndTheClicksToTheWindowBelow) {
    // An ordinary application's window under the panel, holding the keyboard focus.
    const Window root = DefaultRootWindow(display_);
    const Window below =
        XCreateSimpleWindow(display_, root, 0, 0, kLeftWidth, kLeftHeight, 0, 0, 0xffffff);
    XSelectInput(display_, below, ButtonPressMask | StructureNotifyMask);
    XMapWindow(display_, below);
    XSync(display_, False);
    ASSERT_TRUE(pumpEventsUntil([&] {
        XWindowAttributes attributes;
        XGetWindowAttributes(display_, below, &attributes);
        return attributes.map_state == IsViewable;
    }));
    XSetInputFocus(display_, below, RevertToParent, CurrentTime);
    XSync(display_, False);

    movePointer(600, 300);
    panel_->show("Your words go where your cursor is");
    for (double level : {0.3, 0.8, 0.5}) panel_->updateLevel(level);
    pumpEventsUntil([&] { return animationsEnded() && mapped(); });
    ASSERT_TRUE(mapped());

    Window focus = 0;
    int revert = 0;
    XGetInputFocus(display_, &focus, &revert);
    EXPECT_EQ(focus, below);

    const auto panelWindow = static_cast<Window>(panel_->window()->winId());
    XWMHints* hints = XGetWMHints(display_, panelWindow);
    ASSERT_NE(hints, nullptr);
    EXPECT_TRUE((hints->flags & InputHint) != 0 && !hints->input) << "asks not to be focused";
    XFree(hints);
    const auto types = atomNames(display_, panelWindow, "_NET_WM_WINDOW_TYPE");
    ASSERT_FALSE(types.empty());
    EXPECT_EQ(types.front(), "_NET_WM_WINDOW_TYPE_NOTIFICATION");
    const auto states = atomNames(display_, panelWindow, "_NET_WM_STATE");
    for (const char* state :
         {"_NET_WM_STATE_ABOVE", "_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_STICKY"}) {
        EXPECT_NE(std::find(states.begin(), states.end(), state), states.end()) << state;
    }
    int rectangles = -1;
    int ordering = 0;
    XRectangle* input =
        XShapeGetRectangles(display_, panelWindow, ShapeInput, &rectangles, &ordering);
    EXPECT_EQ(rectangles, 0) << "an empty input shape sends clicks below";
    if (input != nullptr) XFree(input);

    // A click in the middle of the panel lands in the window below.
    const QPoint centre = frame().center();
    XTestFakeMotionEvent(display_, -1, centre.x(), centre.y(), CurrentTime);
    XTestFakeButtonEvent(display_, 1, True, CurrentTime);
    XTestFakeButtonEvent(display_, 1, False, CurrentTime);
    XSync(display_, False);
    XEvent event;
    ASSERT_TRUE(pumpEventsUntil(
        [&] { return XCheckTypedWindowEvent(display_, below, ButtonPress, &event) == True; }));
    EXPECT_EQ(event.xbutton.x_root, centre.x());
    EXPECT_EQ(event.xbutton.y_root, centre.y());
    XGetInputFocus(display_, &focus, &revert);
    EXPECT_EQ(focus, below);
    XDestroyWindow(display_, below);
}

TEST_F(HUDPanel, AShowDuringTheFadeOutKeepsThePanel) {
    movePointer(300, 300);
    WaveformView* waveform = panel_->waveformView();
    panel_->show("First");
    for (int i = 0; i < 5; ++i) panel_->updateLevel(1.0);
    settle();
    const double level = waveform->displayedLevel();
    EXPECT_NEAR(level, 1 - std::pow(0.6, 5), 1e-9);

    panel_->hide();
    EXPECT_FALSE(panel_->isVisible());
    // Shown again once the fade-out has begun to take the panel away.
    pumpEventsUntil([&] { return panel_->window()->windowOpacity() < 1.0; });
    panel_->show("Again");
    // Until every animation has ended: a first fade-out that went on would have ended too.
    pumpEventsUntil([&] { return animationsEnded() && mapped(); });
    EXPECT_TRUE(panel_->isVisible());
    EXPECT_TRUE(mapped()) << "the first fade-out's end did not take the panel away";
    EXPECT_DOUBLE_EQ(panel_->window()->windowOpacity(), 1.0);
    EXPECT_EQ(panel_->shownText(), "Again");
    EXPECT_DOUBLE_EQ(waveform->displayedLevel(), level);

    // "Refining…" lowers the bars one step; the end of the fade-out one more.
    panel_->showRefining();
    EXPECT_EQ(panel_->shownText(), QString::fromUtf8("Refining\u2026"));
    EXPECT_NEAR(waveform->displayedLevel(), level * 0.85, 1e-9);
    panel_->hide();
    ASSERT_TRUE(pumpEventsUntil([&] { return !mapped(); }));
    EXPECT_NEAR(waveform->displayedLevel(), level * 0.85 * 0.85, 1e-9);
    panel_->hide();
    // A fixed wait on purpose: nothing may happen during it.
    testing::pumpEventsFor(kNoOpWatch);
    EXPECT_FALSE(mapped());
    EXPECT_NEAR(waveform->displayedLevel(), level * 0.85 * 0.85, 1e-9) << "hidden: no-op";
}

// A plain desktop background: the colours every look check compares against.
class Backdrop final : public QWidget {
  public:
    Backdrop() {
        setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus);
        setAttribute(Qt::WA_X11NetWmWindowTypeDesktop);
        setGeometry(0, 0, kLeftWidth, kLeftHeight);
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        QLinearGradient gradient(0, 0, width(), height());
        gradient.setColorAt(0, QColor(0x2b, 0x58, 0x76));
        gradient.setColorAt(1, QColor(0x4e, 0x43, 0x76));
        painter.fillRect(rect(), gradient);
    }
};

int distance(QColor a, QColor b) {
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
           std::abs(a.blue() - b.blue());
}

bool compositorOwnsTheScreen(Display* display) {
    return XGetSelectionOwner(display, XInternAtom(display, "_NET_WM_CM_S0", False)) != None;
}

// Whether the screen shows `backdrop` in `area` as the widget paints itself, at two opposite
// corners.
bool showsBackdrop(Backdrop& backdrop, const QRect& area) {
    const QImage painted = backdrop.grab(area).toImage().convertToFormat(QImage::Format_RGB32);
    const QImage shown = grabScreen(area);
    const QPoint farCorner(area.width() - 1, area.height() - 1);
    return distance(shown.pixelColor(0, 0), painted.pixelColor(0, 0)) <= kColourTolerance &&
           distance(shown.pixelColor(farCorner), painted.pixelColor(farCorner)) <= kColourTolerance;
}

TEST_F(HUDPanel, CompositingGivesATranslucentPanelAndNoneAnOpaqueRoundedShape) {
    if (std::system("command -v xcompmgr >/dev/null") != 0) GTEST_SKIP() << "needs xcompmgr";
    ASSERT_FALSE(compositorOwnsTheScreen(display_));
    Backdrop backdrop;
    backdrop.show();
    backdrop.lower();
    movePointer(640, 300);
    const QString transcript = "Let\u2019s meet at the caf\u00e9 on Thursday at ten";
    // The panel with some of the desktop around it, down to the monitor's bottom edge.
    const QRect area((kLeftWidth - 760) / 2, kLeftHeight - 56 - 56 - 70, 760, 56 + 56 + 70);
    pumpEventsUntil([&] { return showsBackdrop(backdrop, area); });
    const QImage desktop = grabScreen(area);

    // Where the panel's corner is cut away the desktop shows; inside, the panel's colour.
    const auto inside = [&] {
        return QPoint(frame().right() - 12, frame().center().y()) - area.topLeft();
    };
    const auto checkCornersAndInside = [&](const QImage& shot) {
        const QPoint corner = frame().topLeft() - area.topLeft() + QPoint(2, 2);
        EXPECT_LE(distance(shot.pixelColor(corner), desktop.pixelColor(corner)), kColourTolerance);
        return shot.pixelColor(inside());
    };

    const QColor opaqueColour(36, 36, 40);
    panel_->show(transcript.toStdString());
    waitForRestingPicture(
        area, [&](const QImage& shot) { return shot.pixelColor(inside()) == opaqueColour; });
    EXPECT_FALSE(panel_->isTranslucent());
    int shaped = 0, unused = 0;
    unsigned int size = 0;
    const auto panelWindow = static_cast<Window>(panel_->window()->winId());
    XShapeQueryExtents(display_, panelWindow, &shaped, &unused, &unused, &size, &size, &unused,
                       &unused, &unused, &size, &size);
    EXPECT_TRUE(shaped) << "the window's own shape is the rounded outline";
    const QColor opaque = checkCornersAndInside(grabScreen(area));
    EXPECT_EQ(opaque, opaqueColour);
    panel_->hide();
    ASSERT_TRUE(pumpEventsUntil([&] { return !mapped(); }));

    const pid_t compositor = spawn({"xcompmgr", "-c"});
    ASSERT_GT(compositor, 0);
    const bool started = pumpEventsUntil([&] { return compositorOwnsTheScreen(display_); });
    if (started) {
        panel_->waveformView()->setShimmerSeed(2026);
        panel_->show(transcript.toStdString());
        for (double level : {0.3, 0.9, 1.0, 0.8, 0.95, 0.7}) panel_->updateLevel(level);
        // What the checks below expect inside the panel; neither the desktop alone nor an opaque
        // panel looks so.
        const auto blendedLook = [](QColor colour) {
            return colour.lightness() < 80 && colour.blue() - colour.red() > 6;
        };
        waitForRestingPicture(
            area, [&](const QImage& shot) { return blendedLook(shot.pixelColor(inside())); });
        EXPECT_TRUE(panel_->isTranslucent());
        XShapeQueryExtents(display_, panelWindow, &shaped, &unused, &unused, &size, &size, &unused,
                           &unused, &unused, &size, &size);
        EXPECT_FALSE(shaped);
        int rectangles = -1;
        XRectangle* input =
            XShapeGetRectangles(display_, panelWindow, ShapeInput, &rectangles, &unused);
        EXPECT_EQ(rectangles, 0) << "clearing the outline left the clicks passing through";
        if (input != nullptr) XFree(input);
        const QImage shot = grabScreen(area);
        const QColor blended = checkCornersAndInside(shot);
        // Dark, and tinted by the blue desktop through it.
        EXPECT_LT(blended.lightness(), 80);
        EXPECT_GT(blended.blue() - blended.red(), 6) << "the desktop shows through";
        if (const char* folder = std::getenv("MURRELO_SCREENSHOT_DIR")) {
            EXPECT_TRUE(shot.save(QString::fromUtf8(folder) + "/recording-panel.png"));
        }
    }
    stop(compositor);
    ASSERT_TRUE(started) << "xcompmgr did not take the screen";
}

}  // namespace
}  // namespace kestrune
