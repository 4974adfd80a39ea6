#include "tests/support/SwaySession.hpp"

#include <pwd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <thread>

namespace kestrune::testing {

namespace {

// The user the tests' compositors and their clients run as when the tests run as root.
constexpr const char* kTestUser = "murrelo-wl";
// sway answers in 0.06–0.11 s on an idle machine; this leaves room for a loaded one with
// sanitizers and for XWayland, which starts with it.
constexpr auto kStartLimit = std::chrono::seconds(30);

bool connectable(const std::string& socketPath) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    socketPath.copy(address.sun_path, sizeof address.sun_path - 1);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// The uid and gid the session runs as: the test user under root (made on first use), else ours.
bool sessionUser(uid_t& uid, gid_t& gid, std::string& why) {
    if (::geteuid() != 0) {
        uid = ::geteuid();
        gid = ::getegid();
        return true;
    }
    if (::getpwnam(kTestUser) == nullptr) {
        const std::string command = std::string(
                                        "useradd --system --no-create-home --shell "
                                        "/usr/sbin/nologin ") +
                                    kTestUser;
        if (std::system(command.c_str()) != 0 && ::getpwnam(kTestUser) == nullptr) {
            why = "could not create the test user " + std::string(kTestUser);
            return false;
        }
    }
    const passwd* user = ::getpwnam(kTestUser);
    uid = user->pw_uid;
    gid = user->pw_gid;
    return true;
}

}  // namespace

std::unique_ptr<SwaySession> SwaySession::start(const std::string& extraConfig, std::string& why) {
    if (::access("/usr/bin/sway", X_OK) != 0) {
        why = "sway is not installed";
        return nullptr;
    }
    uid_t uid = 0;
    gid_t gid = 0;
    if (!sessionUser(uid, gid, why)) return nullptr;
    std::unique_ptr<SwaySession> session(new SwaySession);
    const auto& folder = session->runtime_.path();
    const auto displayFile = folder / "x-display";
    {
        std::ofstream config(folder / "config");
        config << "output HEADLESS-1 resolution 1280x800\n"
                  "xwayland enable\n"
                  "focus_follows_mouse no\n"
                  // XWayland is up once a client of it runs; this one tells its display.
                  "exec sh -c 'echo $DISPLAY > "
               << displayFile.string() << "'\n"
               << extraConfig;
    }
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
    if (::chown(folder.c_str(), uid, gid) != 0 ||
        ::chown((folder / "config").c_str(), uid, gid) != 0) {
        why = "could not give the runtime folder to the test user";
        return nullptr;
    }
    session->sway_ = std::make_unique<ChildProcess>(
        session->asUser(
            {"/usr/bin/sway", "-c", (folder / "config").string()},
            {"WLR_BACKENDS=headless", "WLR_LIBINPUT_NO_DEVICES=1", "WLR_RENDERER=pixman"}),
        ChildProcess::Environment{}, folder, "sway");
    const auto deadline = std::chrono::steady_clock::now() + kStartLimit;
    session->waylandSocket_ = (folder / "wayland-1").string();
    while (!(connectable(session->waylandSocket_) && !readFile(displayFile).empty())) {
        if (session->sway_->wait(std::chrono::milliseconds(20)) ||
            std::chrono::steady_clock::now() > deadline) {
            why = "sway did not start: " + session->sway_->errors();
            return nullptr;
        }
    }
    session->xDisplay_ = readFile(displayFile);
    if (const char* previous = std::getenv("WAYLAND_DISPLAY")) {
        session->previousWaylandDisplay_ = previous;
    }
    ::setenv("WAYLAND_DISPLAY", session->waylandSocket_.c_str(), 1);
    return session;
}

SwaySession::~SwaySession() {
    if (previousWaylandDisplay_.empty()) {
        ::unsetenv("WAYLAND_DISPLAY");
    } else {
        ::setenv("WAYLAND_DISPLAY", previousWaylandDisplay_.c_str(), 1);
    }
    if (sway_) sway_->stop();
}

std::vector<std::string> SwaySession::asUser(const std::vector<std::string>& argv,
                                             const std::vector<std::string>& extra) const {
    const auto& folder = runtime_.path().string();
    std::vector<std::string> line;
    if (::geteuid() == 0) {
        const passwd* user = ::getpwnam(kTestUser);
        // setpriv executes the program in its own process, so the test can stop it by its id.
        line = {"/usr/bin/setpriv", "--reuid=" + std::to_string(user->pw_uid),
                "--regid=" + std::to_string(user->pw_gid), "--clear-groups"};
    }
    line.insert(line.end(),
                {"/usr/bin/env", "-i", "PATH=/usr/bin:/bin", "HOME=" + folder,
                 "XDG_RUNTIME_DIR=" + folder, "LANG=C.UTF-8", "XDG_SESSION_TYPE=wayland"});
    if (!waylandSocket_.empty()) line.push_back("WAYLAND_DISPLAY=wayland-1");
    if (!xDisplay_.empty()) line.push_back("DISPLAY=" + xDisplay_);
    line.insert(line.end(), extra.begin(), extra.end());
    line.insert(line.end(), argv.begin(), argv.end());
    return line;
}

std::string SwaySession::shared(const std::filesystem::path& file) const {
    const auto copy = runtime_.path() / file.filename();
    std::error_code ignored;
    std::filesystem::copy_file(file, copy, std::filesystem::copy_options::overwrite_existing,
                               ignored);
    std::filesystem::permissions(
        copy,
        std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
            std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
            std::filesystem::perms::others_exec,
        ignored);
    return copy.string();
}

std::string SwaySession::message(const std::string& command) const {
    // swaymsg finds the IPC socket through SWAYSOCK, which only sway's children inherit.
    std::string socket;
    for (const auto& entry : std::filesystem::directory_iterator(runtime_.path())) {
        if (entry.path().filename().string().rfind("sway-ipc.", 0) == 0) socket = entry.path();
    }
    std::string line;
    for (const auto& word : asUser({"swaymsg", command}, {"SWAYSOCK=" + socket})) {
        line += "'" + word + "' ";
    }
    std::string output;
    if (FILE* pipe = ::popen(line.c_str(), "r")) {
        char buffer[4096];
        while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
        ::pclose(pipe);
    }
    return output;
}

}  // namespace kestrune::testing
