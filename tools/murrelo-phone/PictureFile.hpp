#pragma once

#include <optional>
#include <string_view>

#include "KestruneRemoteKit/Protocol/RemoteMessage.hpp"

namespace kestrune::phone {

// The wire format of a picture file judged by its first bytes (PNG signature, JPEG start of image,
// or an ISO base media "ftyp" box naming a HEIC brand); none for anything else.
std::optional<ImageFormat> sniffImageFormat(std::string_view bytes);

// File name extension for a received picture.
std::string_view fileExtension(ImageFormat format);

}  // namespace kestrune::phone
