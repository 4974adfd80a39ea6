// Times picture preparation (compress on) against the floor of a plain libjpeg decode at scale 1/2
// of the same file, and measures each one's peak memory in a child process of its own. On a shared
// machine single timings swing widely, so preparation and floor run in alternating trials, each
// trial's ratio comes from two runs made back to back, and the medians are reported, with the CPU
// time too (preparation uses two threads, the floor one). `--short`: one trial of one round each,
// for a quick run that shows the program still works.
#include <cstddef>
#include <cstdio>
// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vips/vips.h>

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <string_view>
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
    double millis = -1;     // wall time per round
    double cpuMillis = -1;  // CPU time per round, all threads
    double peakMiB = 0;
};

double cpuNow() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Runs one kind of work in a fresh process of this program (fork alone is unsafe once libvips has
// started its threads), so that the child's peak resident size is the work's own.
Measure inChild(const char* self, const char* work, const std::string& file, int rounds) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return {};
    const std::string roundsText = std::to_string(rounds);
    const pid_t child = fork();
    if (child == 0) {
        dup2(pipeFds[1], STDOUT_FILENO);
        close(pipeFds[0]);
        execl(self, self, "--child", work, file.c_str(), roundsText.c_str(), nullptr);
        _exit(127);
    }
    close(pipeFds[1]);
    char text[64] = {};
    const ssize_t length = read(pipeFds[0], text, sizeof text - 1);
    close(pipeFds[0]);
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    Measure measure;
    measure.peakMiB = usage.ru_maxrss / 1024.0;
    if (length > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        std::sscanf(text, "%lf %lf", &measure.millis, &measure.cpuMillis);
    }
    return measure;
}

int runChild(const char* work, const char* file, int rounds) {
    std::string jpeg;
    if (FILE* in = std::fopen(file, "rb")) {
        char buffer[1 << 16];
        size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0) jpeg.append(buffer, got);
        std::fclose(in);
    }
    std::function<void()> once;
    if (std::string_view(work) == "prepare") {
        once = [&] {
            auto prepared = kestrune::ImageCompressor::prepare(jpeg, true);
            if (!prepared || prepared->width > 2048) std::abort();
        };
    } else if (std::string_view(work) == "floor") {
        once = [&] { decodeHalfScale(jpeg); };
    } else {
        once = [] {};
    }
    once();  // warm-up: libraries loaded, caches filled
    const auto start = Clock::now();
    const double cpuStart = cpuNow();
    for (int i = 0; i < rounds; ++i) once();
    std::printf("%f %f\n",
                std::chrono::duration<double, std::milli>(Clock::now() - start).count() / rounds,
                (cpuNow() - cpuStart) / rounds);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::string_view(argv[1]) == "--child") {
        return runChild(argv[2], argv[3], std::atoi(argv[4]));
    }
    struct Case {
        const char* name;
        int width, height, rounds;
    };
    const bool isShort = argc == 2 && std::string_view(argv[1]) == "--short";
    // Trials alternate preparation and floor; an odd count gives a plain median.
    const int trials = isShort ? 1 : 7;
    std::printf("%-8s %10s %11s %9s %7s %11s %10s %12s %10s\n", "picture", "bytes", "prepare ms",
                "floor ms", "ratio", "prepare cpu", "floor cpu", "prepare MiB", "floor MiB");
    for (Case c : {Case{"12 MP", 4000, 3000, 3}, Case{"64 MP", 8000, 8000, 1}}) {
        if (isShort) c.rounds = 1;
        const std::string jpeg = makePhoto(c.width, c.height);
        char file[] = "/tmp/murrelo-prepare-bench.XXXXXX";
        const int fd = mkstemp(file);
        if (fd < 0 || write(fd, jpeg.data(), jpeg.size()) != static_cast<ssize_t>(jpeg.size()))
            return 1;
        close(fd);
        // The idle child shows the program's own size, so peaks show what the work itself adds.
        const Measure idle = inChild(argv[0], "idle", file, 1);
        std::vector<double> prepareMs, floorMs, ratios, prepareCpu, floorCpu, prepareMiB, floorMiB;
        for (int trial = 0; trial < trials; ++trial) {
            const Measure prepare = inChild(argv[0], "prepare", file, c.rounds);
            const Measure floor = inChild(argv[0], "floor", file, c.rounds);
            if (prepare.millis < 0 || floor.millis < 0) return 1;
            prepareMs.push_back(prepare.millis);
            floorMs.push_back(floor.millis);
            ratios.push_back(prepare.millis / floor.millis);
            prepareCpu.push_back(prepare.cpuMillis);
            floorCpu.push_back(floor.cpuMillis);
            prepareMiB.push_back(prepare.peakMiB - idle.peakMiB);
            floorMiB.push_back(floor.peakMiB - idle.peakMiB);
        }
        unlink(file);
        std::printf("%-8s %10zu %11.1f %9.1f %7.2f %11.1f %10.1f %12.1f %10.1f\n", c.name,
                    jpeg.size(), median(prepareMs), median(floorMs), median(ratios),
                    median(prepareCpu), median(floorCpu),
                    *std::max_element(prepareMiB.begin(), prepareMiB.end()),
                    *std::max_element(floorMiB.begin(), floorMiB.end()));
    }
    return 0;
}
