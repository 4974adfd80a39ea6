#include "app/Dictation.hpp"

#include "Kestrune/dictation/coordinator/AppCoordinator.hpp"
#include "Kestrune/paste/SerialPasteQueue.hpp"
#include "Kestrune/settings/SettingsStore.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"

namespace kestrune::app {

Dictation::Dictation(Platform platform, MainQueue& main, RecordingPanel& panel) {
    coordinator_ = std::make_unique<AppCoordinator>(AppCoordinator::Dependencies{
        .main = main,
        .settings = platform.settings.forDictation(),
        .triggerKeys = platform.triggerKeys,
        .speech = platform.speech,
        .permissions = std::move(platform.permissions),
        .refiner = platform.refiner,
        .panel = panel,
        // Through the paste queue that phones' texts use too, so that a dictated text and a
        // phone's never overwrite each other's clipboard save and restore; in dictation's own
        // lane, which Phone Connection's limit and cancellations leave alone.
        .paste =
            [&pasteQueue = platform.pasteQueue](std::string text, AppCoordinator::PasteDone done) {
                pasteQueue.enqueueDictation(
                    std::move(text), [done = std::move(done)](Result<void, RemoteError> pasted) {
                        if (pasted) return done({});
                        done(KestruneError::pasteFailed(
                            localized("The text could not be typed. Please try again.")));
                    });
            },
        .isAccessibilityTrusted = std::move(platform.isAccessibilityTrusted),
    });
}

Dictation::~Dictation() = default;

}  // namespace kestrune::app
