#include "Kestrune/phone/controller/PairingApproval.hpp"

#include "KestruneRemoteKit/L10n/L10n.hpp"

namespace kestrune {

PairingApproval::PairingApproval(Dependencies dependencies) : deps_(std::move(dependencies)) {}

PairingApproval::~PairingApproval() = default;

void PairingApproval::ask(RemoteInputServer::PairingRequest request,
                          std::function<void(bool)> reply) {
    dismiss();
    ApprovalQuestion question{
        localizedFormat("Pair “%s”?", {request.deviceName}),
        localizedFormat("From %s. Only allow this if you just scanned the code with your own "
                        "phone. A paired phone can type into this computer whenever Phone "
                        "Connection is on.",
                        {request.peer}),
        localized("Allow"), localized("Deny")};
    const Uuid id = request.id;
    request_ = id;
    // The server hears the answer even when the question outlived this object.
    prompt_ = deps_.showApproval(
        std::move(question),
        [reply = std::move(reply), then = lifetime_.guard([this, id](bool allowed) {
            answered(id, allowed);
        })](bool allowed) mutable {
            reply(allowed);
            then(allowed);
        });
}

void PairingApproval::answered(const Uuid& request, bool allowed) {
    if (request_ != request) return;
    request_.reset();
    // Forgotten later, on the main queue: the prompt may be answering from inside its own
    // handle's calls.
    deps_.main.post(lifetime_.guard([this] {
        if (!request_) prompt_.reset();
    }));
    if (allowed) deps_.onAllowed();
}

void PairingApproval::withdraw(const Uuid& request) {
    if (prompt_ && request_ == request) prompt_->dismiss();
}

void PairingApproval::dismiss() {
    if (prompt_) prompt_->dismiss();
}

}  // namespace kestrune
