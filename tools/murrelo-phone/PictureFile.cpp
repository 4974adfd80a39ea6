#include "PictureFile.hpp"

namespace kestrune::phone {

std::string_view fileExtension(ImageFormat format) {
    switch (format) {
        case ImageFormat::jpeg:
            return "jpg";
        case ImageFormat::png:
            return "png";
        case ImageFormat::heic:
            return "heic";
    }
    return "bin";
}

}  // namespace kestrune::phone
