#include "tests/support/ReceiverProcess.hpp"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

namespace kestrune::testing {

namespace {
// A receiver that has not shown its window by then is considered broken.
constexpr auto startLimit = std::chrono::seconds(20);
constexpr auto answerLimit = std::chrono::milliseconds(30000);
}  // namespace

std::string fromHex(const std::string& hex) {
    if (hex == "-") return {};
    // Not the receiver's text ("no answer" from a receiver too busy to answer in time): given
    // back as it is, so that it shows in a comparison instead of ending the process.
    if (hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) return hex;
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return out;
}

namespace {
Display* inputDisplay() {
    static Display* display = XOpenDisplay(nullptr);
    return display;
}
}  // namespace

void fakeKey(int keycode, bool down) {
    XTestFakeKeyEvent(inputDisplay(), static_cast<unsigned int>(keycode), down, CurrentTime);
    XSync(inputDisplay(), False);
}

void fakeButton(int button) {
    XTestFakeButtonEvent(inputDisplay(), static_cast<unsigned int>(button), True, CurrentTime);
    XTestFakeButtonEvent(inputDisplay(), static_cast<unsigned int>(button), False, CurrentTime);
    XSync(inputDisplay(), False);
}

bool clipboardHasOwner() {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return false;
    bool owned = XGetSelectionOwner(display, XInternAtom(display, "CLIPBOARD", False)) != None;
    XCloseDisplay(display);
    return owned;
}

std::string firstDifference(const std::string& expected, const std::string& actual) {
    if (expected == actual) return {};
    std::size_t at = 0;
    while (at < expected.size() && at < actual.size() && expected[at] == actual[at]) ++at;
    constexpr std::size_t context = 40;
    auto from = at > context ? at - context : 0;
    return "lengths " + std::to_string(expected.size()) + " and " + std::to_string(actual.size()) +
           ", first difference at byte " + std::to_string(at) + ": expected \"" +
           expected.substr(from, 2 * context) + "\", got \"" + actual.substr(from, 2 * context) +
           "\"";
}

std::unique_ptr<ReceiverProcess> ReceiverProcess::start(std::vector<std::string> argv) {
    // A receiver that dies must fail the test, not end it with SIGPIPE.
    signal(SIGPIPE, SIG_IGN);
    int toChild[2];
    int fromChild[2];
    if (pipe(toChild) != 0 || pipe(fromChild) != 0) return nullptr;
    pid_t pid = fork();
    if (pid < 0) return nullptr;
    if (pid == 0) {
        dup2(toChild[0], STDIN_FILENO);
        dup2(fromChild[1], STDOUT_FILENO);
        close(toChild[1]);
        close(fromChild[0]);
        std::vector<char*> args;
        for (auto& a : argv) args.push_back(a.data());
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    std::unique_ptr<ReceiverProcess> process(new ReceiverProcess);
    process->pid_ = pid;
    process->in_ = fdopen(toChild[1], "w");
    process->out_ = fdopen(fromChild[0], "r");
    char line[256];
    auto deadline = std::chrono::steady_clock::now() + startLimit;
    while (std::chrono::steady_clock::now() < deadline && fgets(line, sizeof line, process->out_)) {
        std::string text(line);
        if (text.rfind("ready ", 0) == 0) {
            process->window_ = std::stoul(text.substr(6));
            return process;
        }
    }
    return nullptr;
}

std::unique_ptr<ReceiverProcess> ReceiverProcess::startQt() {
    return start({MURRELO_BINARY_DIR "/tests/support/murrelo_qt_receiver"});
}

std::unique_ptr<ReceiverProcess> ReceiverProcess::startGtk(const std::string& mode) {
    return start(
        {"/usr/bin/python3", MURRELO_SOURCE_DIR "/tests/support/receivers/gtk_receiver.py", mode});
}

ReceiverProcess::ReceiverProcess(ReceiverProcess&& other) noexcept
    : pid_(other.pid_), in_(other.in_), out_(other.out_), window_(other.window_) {
    other.pid_ = -1;
    other.in_ = nullptr;
    other.out_ = nullptr;
}

ReceiverProcess::~ReceiverProcess() {
    if (in_) fclose(in_);
    if (out_) fclose(out_);
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
}

std::string ReceiverProcess::ask(const std::string& command) {
    fprintf(in_, "%s\n", command.c_str());
    fflush(in_);
    std::string answer;
    char buffer[65536];
    // A receiver that stops answering fails the test instead of hanging it.
    pollfd readable{fileno(out_), POLLIN, 0};
    if (poll(&readable, 1, static_cast<int>(answerLimit.count())) <= 0) return "no answer";
    while (fgets(buffer, sizeof buffer, out_)) {
        answer += buffer;
        if (!answer.empty() && answer.back() == '\n') break;
    }
    if (!answer.empty() && answer.back() == '\n') answer.pop_back();
    return answer;
}

std::string ReceiverProcess::text() {
    return fromHex(ask("text"));
}

std::string ReceiverProcess::waitForText(const std::string& expected,
                                         std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    std::string seen = text();
    // Typing only adds to the text: once it is no longer a beginning of the expected text, it
    // never will be the expected text.
    auto stillPossible = [&] { return expected.compare(0, seen.size(), seen) == 0; };
    while (seen != expected && stillPossible() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        seen = text();
    }
    return seen;
}

bool ReceiverProcess::waitUntilFocused(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (ask("focused") != "yes") {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

bool ReceiverProcess::focus() {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) return false;
    bool focused = false;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!focused && std::chrono::steady_clock::now() < deadline) {
        XSetInputFocus(display, window_, RevertToPointerRoot, CurrentTime);
        XSync(display, False);
        Window current = None;
        int revert = 0;
        XGetInputFocus(display, &current, &revert);
        focused = current == window_;
        if (!focused) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    XCloseDisplay(display);
    // The toolkit activates its window when the focus event arrives; a round trip to the
    // receiver makes sure it has handled it.
    ask("text");
    return focused;
}

}  // namespace kestrune::testing
