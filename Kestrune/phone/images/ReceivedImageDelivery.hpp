#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "Kestrune/phone/images/ClipboardImage.hpp"
#include "Kestrune/phone/images/ImageSaveLocation.hpp"
#include "KestruneRemoteKit/Protocol/ImageOutcome.hpp"
#include "KestruneRemoteKit/Protocol/RemoteError.hpp"
#include "KestruneRemoteKit/Protocol/RemoteMessage.hpp"
#include "KestruneRemoteKit/Support/MainQueue.hpp"
#include "KestruneRemoteKit/Support/Result.hpp"

namespace kestrune {

class Pasteboard;
class SerialPasteQueue;

// Pictures received from phones: where each one is saved, then — one at a time, in the paste
// queue with the pasted texts — its check, its file and its place on the clipboard. Lives on the
// main thread, owned by the phone connection controller.
class ReceivedImageDelivery {
  public:
    using Done = std::function<void(ImageOutcome)>;
    // Runs work on some other thread; the work posts its own result back to the main queue.
    using Background = std::function<void(std::function<void()> work)>;
    // Puts a checked picture on the clipboard; `finished` (main thread) gets the failure, if any.
    using CommitImage =
        std::function<void(ClipboardImage::Prepared prepared,
                           std::function<void(Result<void, RemoteError>)> finished)>;
    using PresentAlert = std::function<void(const std::string& title, const std::string& message)>;

    // Pictures larger than this are refused: decoding them for the clipboard's bitmap would take
    // gigabytes of memory.
    static constexpr std::int64_t kMaxPixels = 60'000'000;

    struct Services {
        // The save settings, read on the main thread when a picture arrives.
        std::function<ImageSaveLocation::Preferences()> preferences;
        // The file manager's front folder; blocking, run on `resolveOn`.
        ImageSaveLocation::Ask askFileManager;
        ImageSaveLocation::IsUsable isUsable = ImageSaveLocation::isUsableFolder;
        CommitImage commitImage;
        PresentAlert presentAlert;
        std::string home;  // folders inside it are shown to the phone with "~"
        std::function<std::chrono::system_clock::time_point()> now = [] {
            return std::chrono::system_clock::now();
        };
        // Where resolutions, and picture checks and file writes, run. Unset: a serial queue of
        // our own for each (resolutions run one at a time anyway, and so do deliveries).
        Background resolveOn;
        Background workOn;
    };

    // `pasteQueue` must outlive this object.
    ReceivedImageDelivery(MainQueue& main, SerialPasteQueue& pasteQueue, Services services);
    // Work still in flight answers `internal` and deletes any file it wrote.
    ~ReceivedImageDelivery();
    ReceivedImageDelivery(const ReceivedImageDelivery&) = delete;
    ReceivedImageDelivery& operator=(const ReceivedImageDelivery&) = delete;

    // Main thread. `done` runs on the main thread exactly once (unless the main queue itself is
    // torn down first). The decoder, not the phone's announced format, decides the picture's type.
    void receiveImage(Bytes data, bool save, Done done);

    // Phone Connection stopped or a phone was removed: every picture not yet on the clipboard
    // answers `cancelled`, and a file already written for it is deleted.
    void cancelPending();
    std::int64_t imageEpoch() const;

    struct State;

  private:
    std::shared_ptr<State> state_;
};

// The clipboard write of a received picture: the bytes under their own type and the TIFF
// rendering under "image/tiff", replacing what was there. When the clipboard does not take them,
// the previous contents are put back and the answer is `imageTooLarge`.
ReceivedImageDelivery::CommitImage clipboardImageCommit(Pasteboard& pasteboard);

}  // namespace kestrune
