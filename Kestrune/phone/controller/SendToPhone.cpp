#include "Kestrune/phone/controller/SendToPhone.hpp"

#include "Kestrune/defaults/UserDefaults.hpp"
#include "Kestrune/link/PairedDeviceStore.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "KestruneRemoteKit/Protocol/WireLimits.hpp"

namespace kestrune {

namespace {

std::string describe(const Outbox::EnqueueError& error) {
    if (const auto* write = std::get_if<Outbox::WriteError>(&error)) return write->description;
    return localized("No paired phone yet — pair one under Phone Connection first");
}

}  // namespace

SendToPhone::SendToPhone(Dependencies dependencies) : deps_(std::move(dependencies)) {}

Subscription SendToPhone::observeFeedback(std::function<void(const std::string&)> observer) {
    return feedback_.add(std::move(observer));
}

void SendToPhone::sendClipboard(Stored stored) {
    deps_.readClipboard(lifetime_.guard([this, stored = std::move(stored)](
                                            std::unique_ptr<ClipboardReader> reader) {
        auto taken = OutgoingClipboard::take(*reader);
        if (!taken) return enqueue(taken.error(), stored);
        const bool sendOriginal = deps_.defaults->boolean(kSendOriginalImagesKey).value_or(false);
        // Scaling and compressing a picture takes a while; the result comes back to this queue.
        deps_.background([&main = deps_.main, taken = std::move(taken).value(), sendOriginal,
                          then = lifetime_.guard([this, stored](const auto& prepared) {
                              enqueue(prepared, stored);
                          })]() mutable {
            auto prepared = OutgoingClipboard::prepare(taken, sendOriginal, kMaxImageBytes);
            main.post([then, prepared = std::move(prepared)]() mutable { then(prepared); });
        });
    }));
}

void SendToPhone::enqueue(const Result<Outbox::Content, OutgoingClipboard::Refusal>& prepared,
                          const Stored& stored) {
    if (!prepared) return refuse(prepared.error().message(), stored);
    std::vector<Uuid> phones;
    for (const auto& device : deps_.devices->devices()) phones.push_back(device.id);
    if (phones.empty()) {
        return refuse(localized("No paired phone yet — pair one under Phone Connection first"),
                      stored);
    }
    auto item = deps_.outbox->enqueue(prepared.value(), phones);
    if (!item) {
        return refuse(
            localizedFormat("Couldn’t keep it for the phone: %s", {describe(item.error())}),
            stored);
    }
    if (stored) stored({});
    awaitAcknowledgement(item.value().id, item.value().isSecret());
    deps_.onQueued();
}

void SendToPhone::refuse(const std::string& why, const Stored& stored) {
    feedback_.notify(why);
    if (stored) stored(why);
}

void SendToPhone::awaitAcknowledgement(const std::string& item, bool secret) {
    awaitingAck_ = item;
    awaitingSecret_ = secret;
    deps_.main.postAfter(kAcknowledgementWait, lifetime_.guard([this, item] {
        if (awaitingAck_ != item) return;
        awaitingAck_.reset();
        feedback_.notify(
            awaitingSecret_
                ? localized("Phone not connected — open the app within 10 minutes to receive the "
                            "password")
                : localized("Phone not connected — it will arrive when you open the app"));
    }));
}

void SendToPhone::pushAcknowledged(const std::string& item) {
    if (awaitingAck_ != item) return;
    awaitingAck_.reset();
    feedback_.notify(awaitingSecret_ ? localized("Password sent to phone")
                                     : localized("Sent to phone"));
}

void SendToPhone::secretRefused(const std::string& item) {
    if (deps_.outbox->isPending(item)) {
        return feedback_.notify(
            localized("One paired phone’s app is too old to receive passwords — update it"));
    }
    if (awaitingAck_ != item) return;
    awaitingAck_.reset();
    feedback_.notify(
        localized("The phone app is too old to receive passwords — update it and send again"));
}

void SendToPhone::clearOutbox() {
    awaitingAck_.reset();
    deps_.outbox->clear();
}

}  // namespace kestrune
