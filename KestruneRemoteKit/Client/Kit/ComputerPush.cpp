#include "KestruneRemoteKit/Client/Kit/ComputerPush.hpp"

namespace kestrune {

PushReceiver::Step PushReceiver::receive(RemoteMessage message) {
    auto& value = message.value;
    if (auto* ack = std::get_if<RemoteMessage::Ack>(&value)) {
        if (!ack->ok && ack->error) return Rejected{std::move(*ack->error)};
        return Nothing{};
    }
    if (auto* text = std::get_if<RemoteMessage::PushText>(&value)) {
        return ComputerPush{std::move(text->id), text->seq, text->sentAt,
                            ComputerPush::Text{std::move(text->text)}};
    }
    if (auto* secret = std::get_if<RemoteMessage::PushSecret>(&value)) {
        return ComputerPush{std::move(secret->id), secret->seq, secret->sentAt,
                            ComputerPush::Secret{std::move(secret->payload)}};
    }
    if (auto* begin = std::get_if<RemoteMessage::PushImageBegin>(&value)) {
        if (begin->size > kMaxImageBytes) {
            assembly_.reset();
        } else {
            assembly_ = Assembly{
                std::move(begin->id), begin->format, begin->size, begin->seq, begin->sentAt, {}, 0};
            // The whole picture arrives anyway; one allocation instead of doubling as chunks come.
            assembly_->data.reserve(static_cast<std::size_t>(begin->size));
        }
        return Nothing{};
    }
    if (auto* chunk = std::get_if<RemoteMessage::PushImageChunk>(&value)) {
        const bool fits = assembly_ && chunk->id == assembly_->id &&
                          chunk->index == assembly_->nextIndex &&
                          static_cast<std::int64_t>(assembly_->data.size() + chunk->data.size()) <=
                              assembly_->size;
        if (!fits) {
            assembly_.reset();
            return Nothing{};
        }
        assembly_->data.insert(assembly_->data.end(), chunk->data.begin(), chunk->data.end());
        ++assembly_->nextIndex;
        return Nothing{};
    }
    if (auto* end = std::get_if<RemoteMessage::PushImageEnd>(&value)) {
        auto finished = std::move(assembly_);
        assembly_.reset();
        if (!finished || finished->id != end->id ||
            static_cast<std::int64_t>(finished->data.size()) != finished->size) {
            return Nothing{};
        }
        return ComputerPush{std::move(finished->id), finished->seq, finished->sentAt,
                            ComputerPush::Image{std::move(finished->data), finished->format}};
    }
    return Nothing{};
}

}  // namespace kestrune
