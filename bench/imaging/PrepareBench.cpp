// Times picture preparation (compress on) against the floor of a plain libjpeg decode at scale 1/2
// of the same file, and measures each one's peak memory in a child process of its own.
#include <jpeglib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vips/vips.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "KestruneRemoteKit/Imaging/ImageCompressor.hpp"
#include "KestruneRemoteKit/Imaging/VipsSupport.hpp"

namespace {

using Clock = std::chrono::steady_clock;

// A photo-like picture: smooth gradients with fine noise, so the JPEG has a realistic size.
std::string makePhoto(int width, int height) {
    kestrune::ensureVipsStarted();
    VipsImage *xyz = nullptr, *noise = nullptr, *sum = nullptr, *rgb = nullptr, *u8 = nullptr;
    vips_xyz(&xyz, width, height, nullptr);
    vips_gaussnoise(&noise, width, height, "mean", 0.0, "sigma", 12.0, nullptr);
    VipsImage* bands[2];
    vips_extract_band(xyz, &bands[0], 0, nullptr);
    vips_extract_band(xyz, &bands[1], 1, nullptr);
    VipsImage *scaledX = nullptr, *scaledY = nullptr;
    vips_linear1(bands[0], &scaledX, 255.0 / width, 0.0, nullptr);
    vips_linear1(bands[1], &scaledY, 255.0 / height, 0.0, nullptr);
    VipsImage* mixed = nullptr;
    vips_add(scaledX, noise, &sum, nullptr);
    VipsImage* three[3] = {sum, scaledY, sum};
    vips_bandjoin(three, &rgb, 3, nullptr);
    vips_cast_uchar(rgb, &u8, nullptr);
    void* buffer = nullptr;
    size_t length = 0;
    vips_jpegsave_buffer(u8, &buffer, &length, "Q", 90, nullptr);
    std::string bytes(static_cast<const char*>(buffer), length);
    g_free(buffer);
    for (VipsImage* image : {xyz, noise, sum, rgb, u8, bands[0], bands[1], scaledX, scaledY})
        g_object_unref(image);
    (void)mixed;
    return bytes;
}

void decodeHalfScale(const std::string& jpeg) {
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(jpeg.data()), jpeg.size());
    jpeg_read_header(&info, TRUE);
    info.scale_num = 1;
    info.scale_denom = 2;
    jpeg_start_decompress(&info);
    std::vector<unsigned char> row(info.output_width * info.output_components);
    JSAMPROW rows[1] = {row.data()};
    while (info.output_scanline < info.output_height) jpeg_read_scanlines(&info, rows, 1);
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
}

struct Measure {
    double millis;
    double peakMiB;
};

// Runs `work` `rounds` times in a child: the child's peak resident size is the work's own.
Measure inChild(int rounds, const std::function<void()>& work) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return {};
    const pid_t child = fork();
    if (child == 0) {
        close(pipeFds[0]);
        work();  // warm-up: libraries loaded, caches filled
        const auto start = Clock::now();
        for (int i = 0; i < rounds; ++i) work();
        const double millis =
            std::chrono::duration<double, std::milli>(Clock::now() - start).count() / rounds;
        if (write(pipeFds[1], &millis, sizeof millis) != sizeof millis) _exit(1);
        _exit(0);
    }
    close(pipeFds[1]);
    double millis = 0;
    if (read(pipeFds[0], &millis, sizeof millis) != sizeof millis) millis = -1;
    close(pipeFds[0]);
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    return {millis, usage.ru_maxrss / 1024.0};
}

}  // namespace

int main() {
    struct Case {
        const char* name;
        int width, height, rounds;
    };
    std::printf("%-8s %10s %12s %12s %8s %14s %14s\n", "picture", "bytes", "prepare ms", "floor ms",
                "ratio", "prepare MiB", "floor MiB");
    for (const Case& c : {Case{"12 MP", 4000, 3000, 5}, Case{"64 MP", 8000, 8000, 2}}) {
        const std::string jpeg = makePhoto(c.width, c.height);
        // Measure the baseline process size, so peak figures show what the work itself adds.
        const Measure idle = inChild(1, [] {});
        const Measure prepare = inChild(c.rounds, [&] {
            auto prepared = kestrune::ImageCompressor::prepare(jpeg, true);
            if (!prepared || prepared->width > 2048) std::abort();
        });
        const Measure floor = inChild(c.rounds, [&] { decodeHalfScale(jpeg); });
        std::printf("%-8s %10zu %12.1f %12.1f %8.2f %14.1f %14.1f\n", c.name, jpeg.size(),
                    prepare.millis, floor.millis, prepare.millis / floor.millis,
                    prepare.peakMiB - idle.peakMiB, floor.peakMiB - idle.peakMiB);
    }
    return 0;
}
