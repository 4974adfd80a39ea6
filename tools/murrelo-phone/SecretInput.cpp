#include "SecretInput.hpp"

#include <termios.h>
#include <unistd.h>

#include <cstdio>

namespace kestrune::phone {

namespace {

// Reads until end of input, or until the first line break when `oneLine`.
std::optional<std::string> readFrom(int fd, bool oneLine) {
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t count = ::read(fd, buffer, oneLine ? 1 : sizeof buffer);
        if (count < 0) return std::nullopt;
        if (count == 0) break;
        text.append(buffer, static_cast<std::size_t>(count));
        if (text.size() > kMaxSecretInputBytes) return std::nullopt;
        if (oneLine && text.back() == '\n') break;
    }
    if (text.ends_with('\n')) text.pop_back();
    if (text.ends_with('\r')) text.pop_back();
    return text;
}

}  // namespace

std::optional<std::string> readSecret(int fd) {
    if (!::isatty(fd)) return readFrom(fd, false);

    std::fputs("Password: ", stderr);
    std::fflush(stderr);
    termios saved{};
    ::tcgetattr(fd, &saved);
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    ::tcsetattr(fd, TCSAFLUSH, &quiet);
    auto secret = readFrom(fd, true);
    ::tcsetattr(fd, TCSAFLUSH, &saved);
    return secret;
}

}  // namespace kestrune::phone
