#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrune {

// Everything the clipboard held at one moment, so that a paste can put it back afterwards.
// One entry per clipboard item (X11 has a single item), each with every type whose data could be
// read, in the owner's order.
struct PasteboardSnapshot {
    struct Representation {
        std::string type;  // the clipboard type (X11: the target, e.g. "UTF8_STRING", "image/png")
        std::string encoding;  // how the data is tagged (X11: the property type, e.g. "ATOM")
        int unitBits = 8;      // 8, 16 or 32 (X11 property format)
        std::vector<std::uint8_t> data;
        bool operator==(const Representation&) const = default;
    };
    using Item = std::vector<Representation>;

    std::vector<Item> items;

    bool isEmpty() const { return items.empty(); }
    bool operator==(const PasteboardSnapshot&) const = default;
};

}  // namespace kestrune
