#pragma once

#include <sys/mount.h>

#include <cerrno>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

namespace kestrune::testing {

// A file system of its own, `bytes` large (a tmpfs mounted on the test's empty `folder`), that a
// test can fill to see what a full disk does. Mounting needs root (CI runs as root); `mounted()`
// says whether it worked, so a test can skip otherwise. The folder must outlive the disk.
class SmallDisk {
  public:
    SmallDisk(std::filesystem::path folder, std::size_t bytes) : folder_(std::move(folder)) {
        const std::string options = "size=" + std::to_string(bytes) + ",mode=700";
        mounted_ = ::mount("tmpfs", folder_.c_str(), "tmpfs", 0, options.c_str()) == 0;
    }
    ~SmallDisk() {
        if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool mounted() const { return mounted_; }
    const std::filesystem::path& path() const { return folder_; }

    // Takes all the space left with one file, "filler", beside whatever is there.
    void fill() const {
        std::ofstream out(folder_ / "filler", std::ios::binary);
        const std::string block(64 * 1024, 'f');
        while (out.write(block.data(), static_cast<std::streamsize>(block.size()))) {
        }
        // tmpfs keeps a partly filled last page; single bytes take what is left of it.
        out.clear();
        while (out.put('f') && out.flush()) {
        }
    }

  private:
    std::filesystem::path folder_;
    bool mounted_ = false;
};

}  // namespace kestrune::testing
