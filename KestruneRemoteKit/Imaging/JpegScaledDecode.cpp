#include "KestruneRemoteKit/Imaging/JpegScaledDecode.hpp"

#include <csetjmp>
#include <cstddef>
#include <cstdio>
// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>

namespace kestrune {

namespace {

constexpr int kFullScale = 8;  // libjpeg scales are M/8

struct ErrorManager {
    jpeg_error_mgr base;  // first member, so libjpeg's pointer to it leads back here
    std::jmp_buf escape;
};

[[noreturn]] void leaveDecode(j_common_ptr info) {
    std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->escape, 1);
}

// Warnings (corrupt or missing data, which libjpeg fills in) are no reason to write to stderr.
void ignoreMessage(j_common_ptr) {}

// The two functions below are the only places libjpeg can longjmp out of, so each holds its own
// setjmp and nothing with a destructor lives in their frames.

bool readHeaderAtScale(jpeg_decompress_struct* info, const unsigned char* data, std::size_t size,
                       int minLongest) {
    if (setjmp(reinterpret_cast<ErrorManager*>(info->err)->escape) != 0) return false;
    jpeg_mem_src(info, data, size);
    if (jpeg_read_header(info, TRUE) != JPEG_HEADER_OK) return false;
    switch (info->jpeg_color_space) {
        case JCS_GRAYSCALE:
            info->out_color_space = JCS_GRAYSCALE;
            break;
        case JCS_YCbCr:
        case JCS_RGB:
            info->out_color_space = JCS_EXT_RGB;
            break;
        default:
            return false;
    }
    const JDIMENSION longest =
        info->image_width > info->image_height ? info->image_width : info->image_height;
    info->scale_num =
        static_cast<unsigned>(jpegScaleEighths(static_cast<int>(longest), minLongest));
    info->scale_denom = kFullScale;
    jpeg_start_decompress(info);
    return true;
}

bool readScanlines(jpeg_decompress_struct* info, JSAMPROW const* rows, JDIMENSION count) {
    if (setjmp(reinterpret_cast<ErrorManager*>(info->err)->escape) != 0) return false;
    const JDIMENSION end = info->output_scanline + count;
    while (info->output_scanline < end) {
        const JDIMENSION done = count - (end - info->output_scanline);
        if (jpeg_read_scanlines(info, const_cast<JSAMPARRAY>(rows + done),
                                end - info->output_scanline) == 0) {
            return false;
        }
    }
    if (info->output_scanline == info->output_height) jpeg_finish_decompress(info);
    return true;
}

}  // namespace

int jpegScaleEighths(int storedLongest, int minLongest) {
    for (int eighths = 1; eighths < kFullScale; eighths *= 2) {
        // libjpeg rounds scaled sizes up.
        const long long scaled = (static_cast<long long>(storedLongest) * eighths + 7) / 8;
        if (scaled >= minLongest) return eighths;
    }
    return kFullScale;
}

struct ScaledJpegDecoder::State {
    ErrorManager errors{};
    jpeg_decompress_struct info{};
    bool started = false;
};

ScaledJpegDecoder::ScaledJpegDecoder() : state_(std::make_unique<State>()) {
    state_->info.err = jpeg_std_error(&state_->errors.base);
    state_->errors.base.error_exit = leaveDecode;
    state_->errors.base.output_message = ignoreMessage;
    jpeg_create_decompress(&state_->info);
}

ScaledJpegDecoder::~ScaledJpegDecoder() {
    jpeg_destroy_decompress(&state_->info);
}

bool ScaledJpegDecoder::open(std::string_view source, int minLongest) {
    state_->started =
        readHeaderAtScale(&state_->info, reinterpret_cast<const unsigned char*>(source.data()),
                          source.size(), minLongest);
    return state_->started;
}

int ScaledJpegDecoder::width() const {
    return static_cast<int>(state_->info.output_width);
}
int ScaledJpegDecoder::height() const {
    return static_cast<int>(state_->info.output_height);
}
int ScaledJpegDecoder::bands() const {
    return state_->info.output_components;
}

bool ScaledJpegDecoder::readRows(std::uint8_t* const* rows, int count) {
    if (!state_->started || count < 0 ||
        state_->info.output_scanline + static_cast<JDIMENSION>(count) >
            state_->info.output_height) {
        return false;
    }
    return readScanlines(&state_->info, rows, static_cast<JDIMENSION>(count));
}

}  // namespace kestrune
