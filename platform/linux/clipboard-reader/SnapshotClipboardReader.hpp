#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Kestrune/paste/PasteboardSnapshot.hpp"
#include "Kestrune/phone/images/OutgoingClipboard.hpp"

namespace kestrune {

// The clipboard as OutgoingClipboard reads it, answered from a snapshot of every target the
// owner offered (Pasteboard::takeSnapshot). Reading everything at once keeps the main thread from
// waiting on the owning application — which could be this very process — once per question.
class SnapshotClipboardReader final : public ClipboardReader {
  public:
    explicit SnapshotClipboardReader(PasteboardSnapshot snapshot);

    std::vector<std::string> types() const override;
    std::optional<Bytes> data(std::string_view type) const override;
    // The text under the first text target present, as UTF-8 (STRING is Latin-1 on X11).
    std::optional<std::string> text() const override;

  private:
    const PasteboardSnapshot::Representation* find(std::string_view type) const;
    PasteboardSnapshot snapshot_;
};

}  // namespace kestrune
