#include "Kestrune/phone/images/OutgoingClipboard.hpp"

#include <unicode/brkiter.h>
#include <unicode/utext.h>

#include <algorithm>
#include <memory>

#include "Kestrune/phone/images/ClipboardImage.hpp"
#include "KestruneRemoteKit/Imaging/ImageCompressor.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"

namespace kestrune::OutgoingClipboard {

namespace {

// User-perceived characters (grapheme clusters), as the limit is explained to people.
std::int64_t characterCount(std::string_view text) {
    UErrorCode status = U_ZERO_ERROR;
    UText* utext = utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status);
    std::unique_ptr<icu::BreakIterator> breaks(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_FAILURE(status) || !breaks) {
        utext_close(utext);
        return static_cast<std::int64_t>(text.size());
    }
    breaks->setText(utext, status);
    std::int64_t count = 0;
    for (int32_t boundary = breaks->next(); boundary != icu::BreakIterator::DONE;
         boundary = breaks->next()) {
        ++count;
    }
    breaks.reset();
    utext_close(utext);
    return count;
}

bool contains(const std::vector<std::string>& types, std::string_view type) {
    return std::find(types.begin(), types.end(), type) != types.end();
}

struct ImageType {
    std::string_view mime;
    ImageFormat format;
};
constexpr ImageType kImageTypes[] = {{ClipboardImage::kPngType, ImageFormat::png},
                                     {ClipboardImage::kJpegType, ImageFormat::jpeg},
                                     {ClipboardImage::kHeicType, ImageFormat::heic}};

}  // namespace

std::string Refusal::message() const {
    switch (kind) {
        case Kind::textTooLong:
            return localizedFormat("Too long to send: %d characters (limit 100,000)",
                                   {std::to_string(count)});
        case Kind::empty:
            return localized("The clipboard is empty");
        case Kind::file:
            return localized("Files can’t be sent — copy the text or picture itself");
        case Kind::textTooLarge:
            return localized("Too large to send: over 4 MB of text");
        case Kind::imageTooLarge:
            return localized("The picture is over 30 MB even compressed — not sent");
        case Kind::imageUnreadable:
            return localized("Couldn’t read the picture on the clipboard");
    }
    return {};
}

Result<std::string, Refusal> checkedText(std::string text) {
    // Counting clusters costs more than counting bytes; no text of fewer bytes can be too long.
    if (static_cast<std::int64_t>(text.size()) > kMaxTextCharacters) {
        const std::int64_t count = characterCount(text);
        if (count > kMaxTextCharacters) return Refusal{Refusal::Kind::textTooLong, count};
    }
    if (static_cast<std::int64_t>(text.size()) > kMaxPushedTextBytes) {
        return Refusal{Refusal::Kind::textTooLarge, 0};
    }
    return text;
}

Result<Taken, Refusal> take(const ClipboardReader& clipboard) {
    const auto types = clipboard.types();
    const auto plainText = [&]() -> Result<std::string, Refusal> {
        auto text = clipboard.text();
        if (!text || text->empty()) return Refusal{Refusal::Kind::empty, 0};
        return checkedText(std::move(*text));
    };

    if (contains(types, kConcealedType)) {
        const auto marker = clipboard.data(kConcealedType);
        if (marker && std::string_view(reinterpret_cast<const char*>(marker->data()),
                                       marker->size()) == kConcealedValue) {
            auto text = plainText();
            if (!text) return text.error();
            return Taken{Taken::Secret{std::move(text).value()}};
        }
    }
    if (contains(types, kFileListType)) return Refusal{Refusal::Kind::file, 0};
    for (const ImageType& type : kImageTypes) {
        if (!contains(types, type.mime)) continue;
        if (auto data = clipboard.data(type.mime))
            return Taken{Taken::Image{std::move(*data), type.format}};
    }
    if (contains(types, ClipboardImage::kTiffType)) {
        if (auto data = clipboard.data(ClipboardImage::kTiffType)) {
            return Taken{Taken::Image{std::move(*data), std::nullopt}};
        }
    }
    auto text = plainText();
    if (!text) return text.error();
    return Taken{Taken::Text{std::move(text).value()}};
}

Result<Outbox::Content, Refusal> prepare(const Taken& taken, bool sendOriginal,
                                         std::int64_t maxImageBytes) {
    if (const auto* text = std::get_if<Taken::Text>(&taken.value)) {
        return Outbox::Content::text(text->text);
    }
    if (const auto* secret = std::get_if<Taken::Secret>(&taken.value)) {
        return Outbox::Content::secret(secret->text);
    }
    const auto& image = std::get<Taken::Image>(taken.value);
    const std::string_view source(reinterpret_cast<const char*>(image.data.data()),
                                  image.data.size());
    Bytes bytes;
    ImageFormat format = ImageFormat::jpeg;
    // The original goes only where it could go unchanged: a picture over the pixel limit is
    // re-encoded by the check itself, and sending its original would bypass that limit.
    const auto check = sendOriginal && image.format
                           ? ImageCompressor::prepare(source, false, ImageCompressor::macMaxPixels)
                           : std::nullopt;
    if (check && !check->originalBytes) {
        bytes = image.data;
        format = *image.format;
    } else {
        auto prepared = ImageCompressor::prepare(source, true, ImageCompressor::macMaxPixels);
        if (!prepared) return Refusal{Refusal::Kind::imageUnreadable, 0};
        bytes = std::move(prepared->data);
        format = prepared->format;
    }
    if (static_cast<std::int64_t>(bytes.size()) > maxImageBytes) {
        return Refusal{Refusal::Kind::imageTooLarge, 0};
    }
    return Outbox::Content::image(std::move(bytes), format);
}

}  // namespace kestrune::OutgoingClipboard
