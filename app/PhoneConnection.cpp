#include "app/PhoneConnection.hpp"

#include <cstdlib>

#include "Kestrune/paste/Pasteboard.hpp"
#include "Kestrune/phone/controller/RemoteInputController.hpp"
#include "Kestrune/phone/images/ReceivedImageDelivery.hpp"
#include "KestruneRemoteKit/Support/SerialQueue.hpp"
#include "app/PhoneLink.hpp"
#include "platform/linux/avahi/AvahiServiceAdvertiser.hpp"
#include "platform/linux/clipboard-reader/SnapshotClipboardReader.hpp"
#include "platform/linux/net/NetworkInterfaces.hpp"

namespace kestrune::app {

PhoneConnection::PhoneConnection(Platform platform, MainQueue& main, PhoneConnectionWindows windows,
                                 Options options)
    : background_(std::make_unique<SerialQueue>("Kestrune.PhoneConnection.prepare")) {
    const char* home = std::getenv("HOME");
    RemoteInputController::Dependencies deps{
        .main = main,
        .defaults = platform.defaults,
        .directory = options.directory.empty() ? PhoneLink::defaultDirectory() : options.directory,
        .makeServer = remoteInputServerMaker(
            main, options.advertise ? std::make_shared<AvahiServiceAdvertiser>() : nullptr),
        .isAccessibilityTrusted = platform.isAccessibilityTrusted,
        .presentAlert = std::move(windows.presentAlert),
        .showApproval = std::move(windows.showApproval),
        .makePairingWindow = std::move(windows.makePairingWindow),
        .currentInterfaces =
            options.interfaces ? std::move(options.interfaces) : net::currentInterfaces,
        .primaryInterface =
            options.primaryInterface ? std::move(options.primaryInterface) : net::primaryInterface,
        .computerName = std::move(windows.computerName),
        .observeLanguageChange = std::move(windows.observeLanguageChange),
        .executor = platform.commandExecutor,
        .injector = platform.directTyping,
        .pasteQueue = platform.pasteQueue,
        .readClipboard =
            [&clipboard =
                 platform.clipboard](std::function<void(std::unique_ptr<ClipboardReader>)> done) {
                clipboard.takeSnapshot([done](PasteboardSnapshot snapshot) {
                    done(std::make_unique<SnapshotClipboardReader>(std::move(snapshot)));
                });
            },
        .background = [queue = background_.get()](
                          std::function<void()> work) { queue->post(std::move(work)); },
        .images = {},
        .loopbackOnly = options.loopbackOnly,
        .reportStoreProblem = std::move(options.reportStoreProblem),
    };
    deps.images.askFileManager = [&fileManager = platform.fileManager] {
        return fileManager.ask(FileManagerFolder::kAnswerWait);
    };
    deps.images.commitImage = clipboardImageCommit(platform.clipboard);
    deps.images.home = home ? home : "";
    controller_ = std::make_unique<RemoteInputController>(std::move(deps));
}

PhoneConnection::~PhoneConnection() {
    controller_.reset();
    background_.reset();
}

}  // namespace kestrune::app
