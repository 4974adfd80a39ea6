#pragma once

#include <string_view>

#include "KestruneRemoteKit/Protocol/RemoteMessage.hpp"

namespace kestrune::phone {

// File name extension for a received picture.
std::string_view fileExtension(ImageFormat format);

}  // namespace kestrune::phone
