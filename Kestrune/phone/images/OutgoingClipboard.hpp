#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "Kestrune/phone/outbox/Outbox.hpp"
#include "KestruneRemoteKit/Protocol/RemoteMessage.hpp"
#include "KestruneRemoteKit/Protocol/WireLimits.hpp"
#include "KestruneRemoteKit/Support/Result.hpp"

namespace kestrune {

// Read access to the clipboard's current contents, by MIME type.
class ClipboardReader {
  public:
    virtual ~ClipboardReader() = default;
    virtual std::vector<std::string> types() const = 0;
    virtual std::optional<Bytes> data(std::string_view type) const = 0;
    // The plain text (UTF-8), if the clipboard offers one.
    virtual std::optional<std::string> text() const = 0;
};

// Turns what the user copied into something for the phones, with the limits a phone can take.
namespace OutgoingClipboard {

// Password managers mark a copied password with this type, holding "secret".
inline constexpr std::string_view kConcealedType = "x-kde-passwordManagerHint";
inline constexpr std::string_view kConcealedValue = "secret";
inline constexpr std::string_view kFileListType = "text/uri-list";
// A phone's text field and history stay responsive up to this many characters …
inline constexpr std::int64_t kMaxTextCharacters = 100'000;
// (the byte bound is the link's, `kMaxPushedTextBytes`).

struct Taken {
    struct Text {
        std::string text;
        bool operator==(const Text&) const = default;
    };
    struct Secret {
        std::string text;
        bool operator==(const Secret&) const = default;
    };
    struct Image {
        Bytes data;
        std::optional<ImageFormat> format;  // none for TIFF, which is always re-encoded
        bool operator==(const Image&) const = default;
    };
    std::variant<Text, Secret, Image> value;
    bool operator==(const Taken&) const = default;
};

struct Refusal {
    enum class Kind { textTooLong, empty, file, textTooLarge, imageTooLarge, imageUnreadable };
    Kind kind = Kind::empty;
    std::int64_t count = 0;  // characters, for textTooLong

    // The user's message in the interface language.
    std::string message() const;
    bool operator==(const Refusal&) const = default;
};

Result<Taken, Refusal> take(const ClipboardReader& clipboard);

Result<Outbox::Content, Refusal> prepare(const Taken& taken, bool sendOriginal,
                                         std::int64_t maxImageBytes = kMaxImageBytes);

Result<std::string, Refusal> checkedText(std::string text);

}  // namespace OutgoingClipboard

}  // namespace kestrune
