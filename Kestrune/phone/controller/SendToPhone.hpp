#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "Kestrune/phone/images/OutgoingClipboard.hpp"
#include "Kestrune/phone/outbox/Outbox.hpp"
#include "KestruneRemoteKit/Support/Lifetime.hpp"
#include "KestruneRemoteKit/Support/MainQueue.hpp"
#include "KestruneRemoteKit/Support/Observers.hpp"
#include "KestruneRemoteKit/Support/Result.hpp"

namespace kestrune {

class PairedDeviceStore;
class UserDefaults;

// Send to Phone: puts what the clipboard holds into the outbox for every paired phone and tells
// the user, in one line each time, how it went — delivered, waiting for a phone that is not
// connected, or refused. Main queue.
class SendToPhone {
  public:
    static constexpr std::string_view kSendOriginalImagesKey = "remoteSendOriginalImagesToPhone";
    // How long a sent item may wait for its acknowledgement before the user hears that the phone
    // is not connected.
    static constexpr std::chrono::seconds kAcknowledgementWait{5};

    struct Dependencies {
        MainQueue& main;
        std::shared_ptr<UserDefaults> defaults;
        std::shared_ptr<PairedDeviceStore> devices;
        std::shared_ptr<Outbox> outbox;
        // Reads the clipboard; the reader arrives on the main thread.
        std::function<void(std::function<void(std::unique_ptr<ClipboardReader>)>)> readClipboard;
        // Runs work on another thread; the work posts its result to `main` itself.
        std::function<void(std::function<void()>)> background;
        // An item went into the outbox, for the connection to carry it.
        std::function<void()> onQueued;
    };

    explicit SendToPhone(Dependencies dependencies);
    SendToPhone(const SendToPhone&) = delete;
    SendToPhone& operator=(const SendToPhone&) = delete;

    // Hears whether the clipboard's content was stored in the outbox (then it is on disk, and
    // reaches the phones even after a crash), or why not: the same words as the feedback.
    using Stored = std::function<void(Result<void, std::string>)>;

    void sendClipboard(Stored stored = {});
    // A phone confirmed the outbox item with this identifier.
    void pushAcknowledged(const std::string& item);
    // A password was not sent to a phone whose app keeps none.
    void secretRefused(const std::string& item);
    // Empties the outbox; an acknowledgement still awaited is no longer reported.
    void clearOutbox();

    // Each line for the user, on the main queue.
    Subscription observeFeedback(std::function<void(const std::string&)> observer);

  private:
    void enqueue(const Result<Outbox::Content, OutgoingClipboard::Refusal>& prepared,
                 const Stored& stored);
    // The line for the user, and the same as the outcome for whoever waits on this one.
    void refuse(const std::string& why, const Stored& stored);
    void awaitAcknowledgement(const std::string& item, bool secret);

    Dependencies deps_;
    Observers<std::string> feedback_;
    std::optional<std::string> awaitingAck_;
    bool awaitingSecret_ = false;
    Lifetime lifetime_;
};

}  // namespace kestrune
