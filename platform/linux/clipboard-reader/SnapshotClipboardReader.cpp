#include "platform/linux/clipboard-reader/SnapshotClipboardReader.hpp"

namespace kestrune {

namespace {

// Text targets in order of preference: those that say they are UTF-8 first.
constexpr std::string_view kTextTargets[] = {"text/plain;charset=utf-8", "UTF8_STRING", "TEXT",
                                             "STRING", "text/plain"};

std::string utf8FromLatin1(const std::vector<std::uint8_t>& latin1) {
    std::string out;
    out.reserve(latin1.size());
    for (std::uint8_t c : latin1) {
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

}  // namespace

SnapshotClipboardReader::SnapshotClipboardReader(PasteboardSnapshot snapshot)
    : snapshot_(std::move(snapshot)) {}

const PasteboardSnapshot::Representation* SnapshotClipboardReader::find(
    std::string_view type) const {
    if (snapshot_.items.empty()) return nullptr;
    for (const auto& representation : snapshot_.items.front()) {
        if (representation.type == type) return &representation;
    }
    return nullptr;
}

std::vector<std::string> SnapshotClipboardReader::types() const {
    std::vector<std::string> names;
    if (snapshot_.items.empty()) return names;
    for (const auto& representation : snapshot_.items.front()) {
        names.push_back(representation.type);
    }
    return names;
}

std::optional<Bytes> SnapshotClipboardReader::data(std::string_view type) const {
    const auto* representation = find(type);
    if (representation == nullptr) return std::nullopt;
    return representation->data;
}

std::optional<std::string> SnapshotClipboardReader::text() const {
    for (std::string_view target : kTextTargets) {
        const auto* representation = find(target);
        // Compound text and other encodings would come out as garbage: skip to the next target.
        if (representation == nullptr || representation->unitBits != 8) continue;
        const auto& bytes = representation->data;
        if (representation->encoding == "STRING") return utf8FromLatin1(bytes);
        if (representation->encoding == "COMPOUND_TEXT") continue;
        return std::string(bytes.begin(), bytes.end());
    }
    return std::nullopt;
}

}  // namespace kestrune
