#include "SecretInput.hpp"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <iterator>

namespace kestrune::phone {

namespace {

// Signals that end the program (or suspend it) while the prompt has echo off. Each handler puts
// the terminal back before the signal takes its usual course, so the shell is never left blind.
constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// Read by the signal handlers: written only while no handler is installed.
int gTerminalFd = -1;
termios gSaved{};
termios gQuiet{};
struct sigaction gPreviousEnding[std::size(kEndingSignals)];
struct sigaction gPreviousStop {};
struct sigaction gPreviousContinue {};

void onEndingSignal(int signal) {
    const int saved = errno;
    ::tcsetattr(gTerminalFd, TCSANOW, &gSaved);
    // The line the person was typing on is left behind, as after any interrupted command.
    (void)!::write(STDERR_FILENO, "\n", 1);
    for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
        if (kEndingSignals[i] == signal) ::sigaction(signal, &gPreviousEnding[i], nullptr);
    }
    // Blocked until this handler returns; then it acts as it would have without the prompt.
    ::raise(signal);
    errno = saved;
}

void onStop(int) {
    const int saved = errno;
    ::tcsetattr(gTerminalFd, TCSANOW, &gSaved);
    struct sigaction stop {};
    stop.sa_handler = SIG_DFL;
    ::sigaction(SIGTSTP, &stop, nullptr);
    ::raise(SIGTSTP);  // suspends once this handler returns
    errno = saved;
}

void installStopHandler() {
    struct sigaction action {};
    action.sa_handler = onStop;
    ::sigemptyset(&action.sa_mask);
    ::sigaction(SIGTSTP, &action, nullptr);
}

void onContinue(int) {
    const int saved = errno;
    ::tcsetattr(gTerminalFd, TCSANOW, &gQuiet);
    installStopHandler();
    errno = saved;
}

// Echo off for the life of the object, and for no longer on any way out.
class QuietTerminal {
  public:
    explicit QuietTerminal(int fd) {
        if (::tcgetattr(fd, &gSaved) != 0) return;
        gTerminalFd = fd;
        gQuiet = gSaved;
        gQuiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        gQuiet.c_lflag |= ECHONL;

        struct sigaction action {};
        action.sa_handler = onEndingSignal;
        ::sigemptyset(&action.sa_mask);
        for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
            ::sigaction(kEndingSignals[i], &action, &gPreviousEnding[i]);
        }
        ::sigaction(SIGTSTP, nullptr, &gPreviousStop);
        installStopHandler();
        action.sa_handler = onContinue;
        ::sigaction(SIGCONT, &action, &gPreviousContinue);
        active_ = true;
        ::tcsetattr(fd, TCSAFLUSH, &gQuiet);
    }

    ~QuietTerminal() {
        if (!active_) return;
        ::tcsetattr(gTerminalFd, TCSAFLUSH, &gSaved);
        for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
            ::sigaction(kEndingSignals[i], &gPreviousEnding[i], nullptr);
        }
        ::sigaction(SIGTSTP, &gPreviousStop, nullptr);
        ::sigaction(SIGCONT, &gPreviousContinue, nullptr);
    }

    QuietTerminal(const QuietTerminal&) = delete;
    QuietTerminal& operator=(const QuietTerminal&) = delete;

  private:
    bool active_ = false;
};

// Reads until end of input, or until the first line break when `oneLine`.
std::optional<std::string> readFrom(int fd, bool oneLine) {
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t count = ::read(fd, buffer, oneLine ? 1 : sizeof buffer);
        if (count < 0) {
            // A suspended and resumed prompt (Ctrl-Z, fg) goes on reading.
            if (errno == EINTR) continue;
            return std::nullopt;
        }
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
    QuietTerminal quiet(fd);
    return readFrom(fd, true);
}

}  // namespace kestrune::phone
