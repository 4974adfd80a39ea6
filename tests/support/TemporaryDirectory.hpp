#pragma once

#include <stdlib.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

namespace kestrune::testing {

// A fresh folder of the test's own (mode 700, as mkdtemp makes it), removed with everything in it
// when the object goes. The prefix starts the folder's name, so one left behind by a crashed test
// still shows which test made it.
class TemporaryDirectory {
  public:
    explicit TemporaryDirectory(
        std::string_view prefix = "murrelo-test",
        const std::filesystem::path& base = std::filesystem::temp_directory_path()) {
        std::string pattern = (base / (std::string(prefix) + "-XXXXXX")).string();
        if (!::mkdtemp(pattern.data())) {
            const int error = errno;
            throw std::system_error(error, std::generic_category(), "mkdtemp " + pattern);
        }
        path_ = pattern;
    }
    ~TemporaryDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::filesystem::path& name) const {
        return path_ / name;
    }

  private:
    std::filesystem::path path_;
};

}  // namespace kestrune::testing
