#pragma once

#include <sys/mount.h>

#include <cerrno>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "tests/support/TemporaryDirectory.hpp"

namespace kestrune::testing {

// A file system of its own, `bytes` large (a tmpfs on a fresh folder), that a test can fill to
// see what a full disk does. Mounting needs root (CI runs as root); `mounted()` says whether it
// worked, so a test can skip otherwise.
class SmallDisk {
  public:
    explicit SmallDisk(std::size_t bytes) {
        const std::string options = "size=" + std::to_string(bytes) + ",mode=700";
        mounted_ = ::mount("tmpfs", folder_.path().c_str(), "tmpfs", 0, options.c_str()) == 0;
    }
    ~SmallDisk() {
        if (mounted_) ::umount2(folder_.path().c_str(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool mounted() const { return mounted_; }
    const std::filesystem::path& path() const { return folder_.path(); }

    // Takes all the space left with one file, "filler", beside whatever is there.
    void fill() const {
        std::ofstream out(folder_.path() / "filler", std::ios::binary);
        const std::string block(64 * 1024, 'f');
        while (out.write(block.data(), static_cast<std::streamsize>(block.size()))) {
        }
        // tmpfs keeps a partly filled last page; single bytes take what is left of it.
        out.clear();
        while (out.put('f') && out.flush()) {
        }
    }

  private:
    TemporaryDirectory folder_{"murrelo-small-disk"};
    bool mounted_ = false;
};

}  // namespace kestrune::testing
