// Feeds arbitrary bytes to the outbox's file decoders, as a damaged or planted file in the outbox
// folder would, and checks the rules loading relies on: whatever decodes names only files of its
// own inside the folder, has a phone to wait for, and survives a write-and-read unchanged.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "Kestrune/phone/outbox/OutboxCoding.hpp"

namespace kestrune {
namespace {

void check(bool holds, const char* rule) {
    if (holds) return;
    std::fprintf(stderr, "invariant broken: %s\n", rule);
    std::abort();
}

void checkItem(std::string_view bytes) {
    const auto item = decodeOutboxItem(bytes);
    if (!item) return;
    check(item->seq >= 1, "sequence numbers start at 1");
    check(!item->pendingDevices.empty(), "an item waits for at least one phone");
    check(item->text.has_value() != item->imageFile.has_value(), "a text or a picture, not both");
    check(item->imageFormat.has_value() == item->imageFile.has_value(), "format and file together");
    check(!item->isSecret(), "passwords are never read from disk");
    check(item->id.find('/') == std::string::npos && item->id.find("..") == std::string::npos,
          "the item's id is a plain file name");
    if (item->imageFile) {
        const auto format = imageFormatFromRaw(*item->imageFormat);
        check(format && *item->imageFile == outboxImageFileName(item->id, *format),
              "the picture file is the item's own");
    }
    auto reread = decodeOutboxItem(encodeOutboxItem(*item));
    check(reread.has_value(), "an item written can be read");
    // Times travel as seconds in a double: exact to the microsecond for this era, within a couple
    // of microseconds at the far end of the accepted range.
    const auto drift = reread->createdAt - item->createdAt;
    check(drift <= std::chrono::microseconds(2) && drift >= -std::chrono::microseconds(2),
          "the creation time reads back");
    reread->createdAt = item->createdAt;
    check(reread == item, "an item reads back as written");
}

void checkState(std::string_view bytes) {
    const auto lastSeq = decodeOutboxState(bytes);
    if (!lastSeq) return;
    check(*lastSeq >= 0, "the sequence never goes below zero");
    check(decodeOutboxState(encodeOutboxState(*lastSeq)) == lastSeq, "the state reads back");
}

}  // namespace
}  // namespace kestrune

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    kestrune::checkItem(bytes);
    kestrune::checkState(bytes);
    return 0;
}
