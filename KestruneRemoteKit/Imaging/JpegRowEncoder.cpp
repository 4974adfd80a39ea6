#include "KestruneRemoteKit/Imaging/JpegRowEncoder.hpp"

#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>
// jerror.h after jpeglib.h, whose types it uses.
#include <jerror.h>

namespace kestrune {

namespace {

struct ErrorManager {
    jpeg_error_mgr base;  // first member, so libjpeg's pointer to it leads back here
    std::jmp_buf escape;
};

[[noreturn]] void leaveEncode(j_common_ptr info) {
    std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->escape, 1);
}

void ignoreMessage(j_common_ptr) {}

// Collects the encoded bytes in one malloc'd block that grows by doubling. libjpeg's own memory
// destination only tells where its block is once finished, so an encoding abandoned half way
// would leave it unknown; this one always knows.
struct MemoryDestination {
    jpeg_destination_mgr base;  // first member, so libjpeg's pointer to it leads back here
    unsigned char* data = nullptr;
    std::size_t capacity = 0;
};

constexpr std::size_t kFirstOutputBlock = std::size_t{64} << 10;

MemoryDestination* destinationOf(j_compress_ptr info) {
    return reinterpret_cast<MemoryDestination*>(info->dest);
}

void startDestination(j_compress_ptr info) {
    MemoryDestination* destination = destinationOf(info);
    if (destination->data == nullptr) {
        destination->data = static_cast<unsigned char*>(std::malloc(kFirstOutputBlock));
        if (destination->data == nullptr) ERREXIT1(info, JERR_OUT_OF_MEMORY, 0);
        destination->capacity = kFirstOutputBlock;
    }
    destination->base.next_output_byte = destination->data;
    destination->base.free_in_buffer = destination->capacity;
}

boolean growDestination(j_compress_ptr info) {
    MemoryDestination* destination = destinationOf(info);
    void* grown = std::realloc(destination->data, destination->capacity * 2);
    if (grown == nullptr) ERREXIT1(info, JERR_OUT_OF_MEMORY, 1);
    destination->data = static_cast<unsigned char*>(grown);
    // libjpeg asks for more only when the block is full.
    destination->base.next_output_byte = destination->data + destination->capacity;
    destination->base.free_in_buffer = destination->capacity;
    destination->capacity *= 2;
    return TRUE;
}

void finishDestination(j_compress_ptr) {}

// libjpeg may longjmp out of the three functions below; each holds its own setjmp and nothing with
// a destructor lives in their frames.

bool startCompress(jpeg_compress_struct* info, int width, int height, int bands, int quality) {
    if (setjmp(reinterpret_cast<ErrorManager*>(info->err)->escape) != 0) return false;
    info->image_width = static_cast<JDIMENSION>(width);
    info->image_height = static_cast<JDIMENSION>(height);
    info->input_components = bands;
    info->in_color_space = bands == 1 ? JCS_GRAYSCALE : JCS_EXT_RGB;
    jpeg_set_defaults(info);
    jpeg_set_quality(info, quality, TRUE);
    jpeg_start_compress(info, TRUE);
    return true;
}

bool writeScanlines(jpeg_compress_struct* info, JSAMPROW const* rows, JDIMENSION count) {
    if (setjmp(reinterpret_cast<ErrorManager*>(info->err)->escape) != 0) return false;
    for (JDIMENSION done = 0; done < count;) {
        const JDIMENSION written =
            jpeg_write_scanlines(info, const_cast<JSAMPARRAY>(rows + done), count - done);
        if (written == 0) return false;
        done += written;
    }
    return true;
}

bool finishCompress(jpeg_compress_struct* info) {
    if (setjmp(reinterpret_cast<ErrorManager*>(info->err)->escape) != 0) return false;
    jpeg_finish_compress(info);
    return true;
}

}  // namespace

struct JpegRowEncoder::State {
    ErrorManager errors{};
    MemoryDestination destination{};
    jpeg_compress_struct info{};
    bool started = false;
};

JpegRowEncoder::JpegRowEncoder() : state_(std::make_unique<State>()) {
    state_->info.err = jpeg_std_error(&state_->errors.base);
    state_->errors.base.error_exit = leaveEncode;
    state_->errors.base.output_message = ignoreMessage;
    jpeg_create_compress(&state_->info);
    state_->destination.base.init_destination = startDestination;
    state_->destination.base.empty_output_buffer = growDestination;
    state_->destination.base.term_destination = finishDestination;
    state_->info.dest = &state_->destination.base;
}

JpegRowEncoder::~JpegRowEncoder() {
    jpeg_destroy_compress(&state_->info);
    std::free(state_->destination.data);
}

bool JpegRowEncoder::start(int width, int height, int bands, int quality) {
    if (state_->started || width <= 0 || height <= 0 || (bands != 1 && bands != 3)) return false;
    state_->started = startCompress(&state_->info, width, height, bands, quality);
    return state_->started;
}

bool JpegRowEncoder::writeRows(const std::uint8_t* const* rows, int count) {
    if (!state_->started || count < 0 ||
        state_->info.next_scanline + static_cast<JDIMENSION>(count) > state_->info.image_height) {
        return false;
    }
    // libjpeg only reads the rows, though its signature does not say so.
    return writeScanlines(&state_->info, const_cast<JSAMPROW const*>(rows),
                          static_cast<JDIMENSION>(count));
}

std::optional<Bytes> JpegRowEncoder::finish() {
    if (!state_->started || state_->info.next_scanline != state_->info.image_height ||
        !finishCompress(&state_->info)) {
        return std::nullopt;
    }
    state_->started = false;
    const MemoryDestination& written = state_->destination;
    return Bytes(written.data, written.data + (written.capacity - written.base.free_in_buffer));
}

}  // namespace kestrune
