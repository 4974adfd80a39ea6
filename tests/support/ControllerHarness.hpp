#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Kestrune/defaults/UserDefaults.hpp"
#include "Kestrune/link/PairedDeviceStore.hpp"
#include "Kestrune/phone/controller/RemoteInputController.hpp"
#include "Kestrune/phone/outbox/Outbox.hpp"
#include "KestruneRemoteKit/Support/ManualMainQueue.hpp"
#include "tests/support/TemporaryDirectory.hpp"

namespace kestrune::testing {

// A server that does what the test tells it, when the test tells it.
struct ScriptedServer final : PhoneLinkServer {
    struct Log {
        std::vector<std::string> calls;
        std::function<void(RemoteInputServer::StartResult)> pendingStart;
        std::vector<std::pair<bool, std::function<void(std::optional<PairingToken>)>>>
            tokenRequests;
        std::vector<bool> openedForSending;
    };
    explicit ScriptedServer(std::shared_ptr<Log> log) : log(std::move(log)) {}
    void start(std::function<void(RemoteInputServer::StartResult)> completion) override {
        log->calls.push_back("start");
        log->pendingStart = std::move(completion);
    }
    void stop() override { log->calls.push_back("stop"); }
    void setOpenedForSending(bool opened) override { log->openedForSending.push_back(opened); }
    void noteSend() override { log->calls.push_back("noteSend"); }
    void outboxDidChange() override { log->calls.push_back("outboxDidChange"); }
    void issuePairingToken(bool countsAsActivity,
                           std::function<void(std::optional<PairingToken>)> completion) override {
        log->tokenRequests.emplace_back(countsAsActivity, std::move(completion));
    }
    void invalidatePairingToken() override { log->calls.push_back("invalidatePairingToken"); }
    void setIdleTimeout(std::optional<std::chrono::seconds> timeout) override {
        log->calls.push_back(timeout ? "setIdleTimeout " + std::to_string(timeout->count())
                                     : "setIdleTimeout none");
    }

    std::shared_ptr<Log> log;
};

struct FakePrompt final : ApprovalPrompt {
    struct Shown {
        ApprovalQuestion question;
        std::function<void(bool)> answer;
        bool onScreen = true;
    };
    explicit FakePrompt(std::shared_ptr<Shown> shown) : shown(std::move(shown)) {}
    ~FakePrompt() override { shown->onScreen = false; }
    void dismiss() override {
        if (!shown->onScreen) return;
        shown->onScreen = false;
        if (auto answer = std::exchange(shown->answer, {})) answer(false);
    }
    std::shared_ptr<Shown> shown;
};

struct FakePairingWindow final : PairingWindow {
    struct Screen {
        bool visible = false;
        std::string address;
        std::vector<std::string> links;
        int windowsMade = 0;
        Observers<> closed;
        // Told of each link drawn, for a test that reports it on.
        std::function<void(const std::string&)> onLink;

        void userCloses() {
            if (!visible) return;
            visible = false;
            closed.notify();
        }
    };
    explicit FakePairingWindow(std::shared_ptr<Screen> screen) : screen(std::move(screen)) {}
    ~FakePairingWindow() override { screen->visible = false; }
    void present(const std::string& address) override {
        screen->visible = true;
        screen->address = address;
    }
    void showLink(const std::string& link) override {
        screen->links.push_back(link);
        if (screen->onLink) screen->onLink(link);
    }
    void close() override { screen->userCloses(); }
    bool isVisible() const override { return screen->visible; }
    Subscription observeClose(std::function<void()> observer) override {
        return screen->closed.add(std::move(observer));
    }
    std::shared_ptr<Screen> screen;
};

struct TextClipboard final : ClipboardReader {
    explicit TextClipboard(std::string text) : text_(std::move(text)) {}
    std::vector<std::string> types() const override { return {"text/plain;charset=utf-8"}; }
    std::optional<Bytes> data(std::string_view) const override {
        return Bytes(text_.begin(), text_.end());
    }
    std::optional<std::string> text() const override { return text_; }
    std::string text_;
};

// A password copied from a password manager, which marks it as concealed.
struct ConcealedClipboard final : ClipboardReader {
    explicit ConcealedClipboard(std::string secret) : secret_(std::move(secret)) {}
    std::vector<std::string> types() const override {
        return {"text/plain;charset=utf-8", "x-kde-passwordManagerHint"};
    }
    std::optional<Bytes> data(std::string_view type) const override {
        const std::string value = type == "x-kde-passwordManagerHint" ? "secret" : secret_;
        return Bytes(value.begin(), value.end());
    }
    std::optional<std::string> text() const override { return secret_; }
    std::string secret_;
};

// Work for "another thread", run when the test says so.
struct ManualThreads {
    std::deque<std::function<void()>> tasks;
    std::function<void(std::function<void()>)> executor() {
        return [this](std::function<void()> work) { tasks.push_back(std::move(work)); };
    }
    void runAll() {
        while (!tasks.empty()) {
            auto task = std::move(tasks.front());
            tasks.pop_front();
            task();
        }
    }
};

// The controller with every platform service scripted and the real devices, outbox and settings
// in a folder of the test's own, on a manual main queue.
class ControllerHarness {
  public:
    ControllerHarness();
    ~ControllerHarness();

    RemoteInputController& controller() { return *controller_; }
    void destroyController() { controller_.reset(); }

    // Runs main-queue and background work until nothing is left.
    void settle();
    // Lets the scripted server come up on `port` (after settle() made it).
    void serverStarts(std::uint16_t port);
    void serverStops(RemoteInputServer::StopReason reason);
    Uuid pairPhone(const std::string& name = "Ana’s phone");
    // The controller as the server reaches it (after settle() made the server): weakly, answering
    // for it once it is gone.
    RemoteInputServer::WeakOwner owner() const;
    std::string title() const;

    testing::TemporaryDirectory folder{"murrelo-controller"};
    ManualMainQueue main;
    ManualMainQueue injectorQueue;
    ManualThreads threads;
    std::shared_ptr<UserDefaults> defaults;
    std::shared_ptr<PairedDeviceStore> devices;
    std::shared_ptr<Outbox> outbox;

    // The typing stack as the composition root makes it, typing into `typed`.
    DirectTextInjector injector{
        injectorQueue, [this](const std::string& chunk) { typed.push_back(chunk); },
        [this](std::uint16_t key) { typed.push_back("key " + std::to_string(key)); }};
    SerialPasteQueue pasteQueue{main, [this](const std::string& text, std::function<void()> done) {
                                    typed.push_back("paste " + text);
                                    done();
                                }};
    RemoteCommandExecutor executor{commandOperations()};

    bool trusted = true;
    std::optional<std::string> makeFailure;
    std::string clipboardText = "hello phone";
    // What the clipboard holds when read; by default the text above.
    std::function<std::unique_ptr<ClipboardReader>()> clipboard;
    std::vector<LocalAddress::Interface> interfaces{{"lo", "127.0.0.1"},
                                                    {"wlp2s0", "192.168.1.20"}};
    std::vector<std::string> alerts;
    // Told of each alert too, for a test that reports it on.
    std::function<void(const std::string& title, const std::string& message)> onAlert;
    std::vector<std::string> feedback;
    std::vector<std::string> typed;
    int statusChanges = 0;
    int serversMade = 0;
    std::optional<PhoneLinkServerSetup> setup;
    std::shared_ptr<ScriptedServer::Log> server = std::make_shared<ScriptedServer::Log>();
    std::vector<std::shared_ptr<FakePrompt::Shown>> prompts;
    std::shared_ptr<FakePairingWindow::Screen> window =
        std::make_shared<FakePairingWindow::Screen>();
    std::function<void()> languageChanged;

    static constexpr const char* kFingerprint =
        "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

  private:
    RemoteCommandExecutor::Operations commandOperations();
    std::unique_ptr<RemoteInputController> controller_;
    Subscription statusSubscription_;
    Subscription feedbackSubscription_;
};

}  // namespace kestrune::testing
