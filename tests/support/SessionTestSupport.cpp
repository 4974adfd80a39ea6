#include "tests/support/SessionTestSupport.hpp"

namespace kestrune {

void PrintTo(const RemoteSession::Effect& effect, std::ostream* out) {
    using Effect = RemoteSession::Effect;
    if (const auto* send = effect.as<Effect::Send>()) {
        const auto encoded = send->message.encoded();
        *out << "send " << (encoded.ok() ? encoded.value() : std::string(send->message.typeName()));
    } else if (const auto* request = effect.as<Effect::RequestApproval>()) {
        *out << "requestApproval \"" << request->deviceName << '"';
    } else if (const auto* execute = effect.as<Effect::Execute>()) {
        *out << "execute " << execute->message.typeName();
    } else if (const auto* image = effect.as<Effect::ReceiveImage>()) {
        *out << "receiveImage " << image->data.size() << " bytes " << rawValue(image->format)
             << (image->save ? " save" : "");
    } else if (const auto* subscribed = effect.as<Effect::Subscribed>()) {
        *out << "subscribed " << subscribed->deviceID.uuidString();
    } else if (const auto* acknowledged = effect.as<Effect::PushAcknowledged>()) {
        *out << "pushAcknowledged " << acknowledged->id;
    } else {
        *out << "close";
    }
}

}  // namespace kestrune
