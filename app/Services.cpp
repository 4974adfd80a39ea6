#include "app/Services.hpp"

#include <cstdlib>
#include <filesystem>

#include "Kestrune/common/DesktopSession.hpp"
#include "Kestrune/defaults/UserDefaults.hpp"
#include "Kestrune/dictation/refine/LLMRefiner.hpp"
#include "Kestrune/dictation/speech/OnlineSpeechEngine.hpp"
#include "Kestrune/dictation/speech/SpeechEngineSelector.hpp"
#include "Kestrune/dictation/speech/SpeechRecognizerService.hpp"
#include "Kestrune/http/HttpClient.hpp"
#include "Kestrune/paste/SerialPasteQueue.hpp"
#include "Kestrune/paste/TextInjector.hpp"
#include "Kestrune/phone/typing/DirectTextInjector.hpp"
#include "Kestrune/phone/typing/PasswordFieldDetector.hpp"
#include "Kestrune/phone/typing/RemoteCommandExecutor.hpp"
#include "Kestrune/phone/typing/SecretInjection.hpp"
#include "Kestrune/settings/LegacyMigration.hpp"
#include "Kestrune/settings/SettingsStore.hpp"
#include "KestruneRemoteKit/Support/Log.hpp"
#include "KestruneRemoteKit/Support/SerialQueue.hpp"
#include "app/CompositorBindingLines.hpp"
#include "app/DesktopProbe.hpp"
#include "platform/linux/atspi/PasswordFieldQuery.hpp"
#include "platform/linux/clipboard/X11Clipboard.hpp"
#include "platform/linux/filemanager/FileManagerFrontWindow.hpp"
#include "platform/linux/http/CurlHttpClient.hpp"
#include "platform/linux/pocketsphinx/PocketSphinxEngine.hpp"
#include "platform/linux/pulse/PulseAudioCapture.hpp"
#include "platform/linux/secret/SecretServiceKeyStore.hpp"
#include "platform/linux/wayland/DataControlClipboard.hpp"
#include "platform/linux/wayland/WaylandDirectTyping.hpp"
#include "platform/linux/x11/TriggerKeyMonitor.hpp"
#include "platform/linux/x11/X11DirectTyping.hpp"
#include "platform/linux/x11/X11Typist.hpp"

namespace kestrune::app {

namespace {

constexpr std::string_view kLogCategory = "Services";
// The phone's "type by pasting" choice, read at each command.
constexpr std::string_view kUsePasteKey = "remoteInputUsePaste";

// The locale of the desktop's messages, found as the C library finds it.
std::string desktopMessagesLocale() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        if (const char* value = std::getenv(name); value && *value) return value;
    }
    return {};
}

// Direct typing as the session's choice gives it, used on the typing queue: the virtual keyboard
// on wlroots, XTest otherwise.
struct TypingBackend {
    std::shared_ptr<void> owner;
    std::function<void(const std::string&)> post;
    std::function<void(std::uint16_t)> pressKey;
    // Only where the paste keys go through the same keyboard; XTest's are pressed on the main
    // thread.
    std::function<void()> pressPasteShortcut;
};

TypingBackend makeTypingBackend(DesktopServices::Typing choice, MainQueue& typingQueue) {
    if (choice == DesktopServices::Typing::virtualKeyboard) {
        auto keyboard = std::make_shared<wayland::DirectTyping>();
        auto* raw = keyboard.get();
        return {std::move(keyboard), [raw](const std::string& chunk) { raw->post(chunk); },
                [raw](std::uint16_t key) { raw->pressKey(key); },
                [raw] { raw->pressPasteShortcut(); }};
    }
    auto xtest = std::make_shared<x11::DirectTyping>(typingQueue);
    auto* raw = xtest.get();
    return {std::move(xtest),
            [raw](const std::string& chunk) { raw->post(chunk); },
            [raw](std::uint16_t key) { raw->pressKey(key); },
            {}};
}

}  // namespace

struct Services::Impl {
    Impl(MainQueue& main, std::shared_ptr<UserDefaults> chosenDefaults)
        : main(main),
          session(probeDesktopSession()),
          chosen(DesktopServices::choose(session)),
          defaults(std::move(chosenDefaults)),
          keyStore(std::make_shared<SecretServiceKeyStore>()),
          migratedNow(LegacyMigration::live(defaults, keyStore).runIfNeeded()),
          settings(
              defaults, keyStore,
              std::make_shared<SecretServiceKeyStore>(SecretServiceKeyStore::kTranscriptionAccount),
              main, desktopMessagesLocale,
              [this](std::function<void()> work) { keyQueue->post(std::move(work)); }),
          http(std::make_shared<CurlHttpClient>(main)),
          refiner(http, main),
          triggerKeys(main),
          clipboard(chosen.clipboard == DesktopServices::Clipboard::dataControl
                        ? std::unique_ptr<Pasteboard>(std::make_unique<DataControlClipboard>(main))
                        : std::make_unique<X11Clipboard>(main)),
          pasteInjector(*clipboard, [this] { pressPasteShortcut(); }),
          pasteQueue(main,
                     [this](const std::string& text, std::function<void()> finished) {
                         pasteInjector.inject(text, std::move(finished));
                     }),
          typingQueue(std::make_unique<SerialQueue>("Kestrune.DirectTextInjector")),
          typing(makeTypingBackend(chosen.typing, *typingQueue)),
          directTyping(*typingQueue, typing.post, typing.pressKey),
          questionQueue(std::make_unique<SerialQueue>("Kestrune.PasswordFieldDetector")),
          passwordFields(atspi::isPasswordFieldFocused, *questionQueue),
          commandExecutor(commandOperations()),
          fileManager(askFileManagerFrontWindow),
          builtInSpeech(std::make_shared<PocketSphinxEngine>()),
          onlineSpeech(std::make_shared<OnlineSpeechEngine>(OnlineSpeechEngine::Dependencies{
              http,
              [this] {
                  return OnlineTranscriptionConfiguration{settings.transcriptionBaseURL().value(),
                                                          settings.transcriptionAPIKey().value(),
                                                          settings.transcriptionModel().value(),
                                                          !settings.keysKnown()};
              },
              OnlineSpeechEngine::kRequestTimeout,
              [this](std::function<void(Result<void, std::string>)> ready) {
                  settings.whenKeysKnown(std::move(ready));
              }})),
          speechEngines(
              {builtInSpeech, onlineSpeech, [this] { return settings.speechEngine().value(); }}),
          speech({main, [] { return std::make_unique<PulseAudioCapture>(); },
                  [this](AppLanguage language) { return speechEngines.recognizerFor(language); }}) {
        log(LogLevel::info, kLogCategory, describe(session, chosen));
    }

    ~Impl() {
        // Their threads are joined here, before the objects their work uses go.
        keyQueue.reset();
        microphoneQueue.reset();
        questionQueue.reset();
        typingQueue.reset();
    }

    // The paste shortcut: on wlroots through the virtual keyboard, on its queue (the main thread
    // never waits for the paced keys); otherwise on the main thread, through an XTest connection
    // opened on first use.
    void pressPasteShortcut() {
        if (typing.pressPasteShortcut) return typingQueue->post(typing.pressPasteShortcut);
        if (!pasteKeys) pasteKeys = x11::Typist::open();
        if (pasteKeys) {
            pasteKeys->pressPasteShortcut();
        } else {
            log(LogLevel::error, kLogCategory, "no paste shortcut: X11 with XTest is unavailable");
        }
    }

    std::function<std::string(const TriggerKey&, const std::optional<GlobalHotKey>&)>
    compositorBindings() {
        if (chosen.triggerKey != DesktopServices::TriggerKey::compositorBindings) return {};
        return [](const TriggerKey& trigger, const std::optional<GlobalHotKey>& shortcut) {
            auto lines = compositorBindingLines(
                trigger, shortcut, std::filesystem::read_symlink("/proc/self/exe").string());
            return lines ? *lines : lines.error().sentence;
        };
    }

    RemoteCommandExecutor::Operations commandOperations() {
        std::weak_ptr<bool> alive = aliveToken;
        return {
            .isTrusted = [] { return x11::isTrusted(); },
            .usePaste = [this] { return defaults->boolean(kUsePasteKey).value_or(false); },
            .injectText =
                [this](std::string text, DirectTextInjector::Completion completion) {
                    directTyping.send(DirectTextInjector::prepare(text), std::nullopt,
                                      std::move(completion));
                },
            .paste =
                [this, alive](std::string text, RemoteCommandExecutor::Done done) {
                    // The paste queue belongs to the main thread; these services may be gone by
                    // the time the hop arrives.
                    main.post([this, alive, text = std::move(text), done = std::move(done)] {
                        if (alive.expired()) return done(RemoteError::internal);
                        pasteQueue.enqueue(text, done);
                    });
                },
            .pressKey =
                [this](std::uint16_t key, DirectTextInjector::Completion completion) {
                    directTyping.press(key, std::nullopt, std::move(completion));
                },
            .checkPasswordField =
                [this](std::function<void(bool)> completion) {
                    passwordFields.check(std::move(completion));
                },
            .beginSecret = [this] { return SecretInjection::boundTo(directTyping); },
        };
    }

    MainQueue& main;
    // What the session offers and which implementation serves each need, decided once.
    DesktopSession session;
    DesktopServices chosen;
    std::shared_ptr<bool> aliveToken = std::make_shared<bool>(true);
    std::shared_ptr<UserDefaults> defaults;
    std::shared_ptr<LLMKeyStore> keyStore;
    // The earlier edition's settings and data are imported before anything reads the settings.
    bool migratedNow;
    // The Secret Service is asked here, so that one that does not answer holds up nothing else.
    std::unique_ptr<SerialQueue> keyQueue = std::make_unique<SerialQueue>("Kestrune.KeyStore");
    SettingsStore settings;
    std::shared_ptr<HttpClient> http;
    LLMRefiner refiner;
    x11::TriggerKeyMonitor triggerKeys;
    std::unique_ptr<Pasteboard> clipboard;
    std::unique_ptr<x11::Typist> pasteKeys;
    TextInjector pasteInjector;
    SerialPasteQueue pasteQueue;
    std::unique_ptr<SerialQueue> typingQueue;
    TypingBackend typing;
    DirectTextInjector directTyping;
    std::unique_ptr<SerialQueue> questionQueue;
    PasswordFieldDetector passwordFields;
    RemoteCommandExecutor commandExecutor;
    FileManagerFolder::SerialAsker fileManager;
    std::shared_ptr<PocketSphinxEngine> builtInSpeech;
    std::shared_ptr<OnlineSpeechEngine> onlineSpeech;
    SpeechEngineSelector speechEngines;
    SpeechRecognizerService speech;
    // The microphone question before the first recording: it waits for a hung audio server.
    std::unique_ptr<SerialQueue> microphoneQueue =
        std::make_unique<SerialQueue>("Kestrune.MicrophoneQuestion");
};

Services::Services(MainQueue& main, std::shared_ptr<UserDefaults> defaults)
    : impl_(std::make_unique<Impl>(main, std::move(defaults))) {}

Services::~Services() = default;

PhoneConnection::Platform Services::phoneConnectionPlatform() {
    return {
        .defaults = impl_->defaults,
        .commandExecutor = impl_->commandExecutor,
        .directTyping = impl_->directTyping,
        .pasteQueue = impl_->pasteQueue,
        .clipboard = *impl_->clipboard,
        .fileManager = impl_->fileManager,
        .isAccessibilityTrusted = [] { return x11::isTrusted(); },
    };
}

Dictation::Platform Services::dictationPlatform() {
    return {
        .settings = impl_->settings,
        .triggerKeys = impl_->triggerKeys,
        .speech = impl_->speech,
        .permissions = {impl_->main,
                        [impl = impl_.get()] {
                            return impl->speechEngines.serves(
                                impl->settings.selectedLanguage().value());
                        },
                        [queue = impl_->microphoneQueue.get()](std::function<void(bool)> answer) {
                            queue->post([answer = std::move(answer)] {
                                answer(PulseAudioCapture::inputAvailable());
                            });
                        }},
        .refiner = impl_->refiner,
        .pasteQueue = impl_->pasteQueue,
        .isAccessibilityTrusted = [] { return x11::isTrusted(); },
    };
}

ShellPlatform Services::shellPlatform() {
    return {
        .settings = impl_->settings,
        .refiner = impl_->refiner,
        .http = impl_->http,
        .fileManager = impl_->fileManager,
        .isAccessibilityTrusted = [] { return x11::isTrusted(); },
        .speechHint = [impl = impl_.get()](AppLanguage language) -> std::optional<std::string> {
            const auto engine = impl->speechEngines.recognizerFor(language);
            if (engine) return std::nullopt;
            return engine.error().localizedDescription();
        },
        .compositorBindings = impl_->compositorBindings(),
    };
}

}  // namespace kestrune::app
