#include "Kestrune/link/server/OutboxPush.hpp"

#include <algorithm>
#include <cstdint>

#include "KestruneRemoteKit/Protocol/WireLimits.hpp"

namespace kestrune {

namespace {

std::vector<RemoteMessage> pictureMessages(const OutboxItem& item, ImageFormat format,
                                           const std::string& bytes) {
    std::vector<RemoteMessage> messages;
    messages.reserve(2 + (bytes.size() + kImageChunkBytes - 1) / kImageChunkBytes);
    messages.emplace_back(RemoteMessage::PushImageBegin{item.id, format, std::int64_t(bytes.size()),
                                                        item.seq, item.createdAt});
    std::int64_t index = 0;
    for (std::size_t offset = 0; offset < bytes.size(); offset += kImageChunkBytes) {
        const auto end = std::min(bytes.size(), offset + kImageChunkBytes);
        messages.emplace_back(RemoteMessage::PushImageChunk{
            item.id, index++,
            Bytes(bytes.begin() + std::ptrdiff_t(offset), bytes.begin() + std::ptrdiff_t(end))});
    }
    messages.emplace_back(RemoteMessage::PushImageEnd{item.id});
    return messages;
}

}  // namespace

OutboxPush OutboxPush::plan(const OutboxItem& item, bool acceptsSecret,
                            const ReadPicture& readPicture) {
    OutboxPush push;
    if (item.secret) {
        if (!acceptsSecret) {
            push.refusedSecret = true;
        } else {
            push.messages.emplace_back(
                RemoteMessage::PushSecret{item.id, item.seq, *item.secret, item.createdAt});
        }
    } else if (item.text) {
        push.messages.emplace_back(
            RemoteMessage::PushText{item.id, item.seq, *item.text, item.createdAt});
    } else if (item.imageFormat && item.imageFile) {
        const auto format = imageFormatFromRaw(*item.imageFormat);
        if (!format) return push;
        const auto bytes = readPicture(*item.imageFile);
        if (!bytes || bytes->empty()) return push;
        push.messages = pictureMessages(item, *format, *bytes);
    }
    return push;
}

}  // namespace kestrune
