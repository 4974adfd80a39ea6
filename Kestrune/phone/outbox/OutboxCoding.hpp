#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "Kestrune/phone/outbox/Outbox.hpp"

namespace kestrune {

// The on-disk forms of the outbox: "state.json" and one JSON file per item. Decoding takes the
// bytes from disk as untrusted: anything that is not exactly an item this outbox could have written
// (a path in a file name, an unknown format, no phone left) is refused, so loading deletes it.

std::string encodeOutboxItem(const Outbox::Item& item);
std::optional<Outbox::Item> decodeOutboxItem(std::string_view json);

std::string encodeOutboxState(std::int64_t lastSeq);
std::optional<std::int64_t> decodeOutboxState(std::string_view json);

// The file names the outbox uses for an item: its JSON, and for a picture its bytes.
std::string outboxItemFileName(std::string_view id);
std::string outboxImageFileName(std::string_view id, ImageFormat format);

}  // namespace kestrune
