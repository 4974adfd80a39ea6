#include "PhonePairing.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/json.hpp>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "KestruneRemoteKit/Support/AtomicFile.hpp"
#include "KestruneRemoteKit/Support/OwnerOnlyFolders.hpp"

namespace kestrune::phone {

namespace json = boost::json;

namespace {

// A pairing file is a few hundred bytes; anything far larger is not ours.
constexpr std::size_t kMaxFileBytes = 64 * 1024;
// Group and other permission bits: any of them lets someone else near the secret (as ssh judges
// private keys).
constexpr mode_t kForeignAccessBits = 0077;

const json::string* stringField(const json::object& object, std::string_view key) {
    const json::value* value = object.if_contains(key);
    return value ? value->if_string() : nullptr;
}

// Closes the descriptor on every way out.
struct FileDescriptor {
    int fd = -1;
    ~FileDescriptor() {
        if (fd >= 0) ::close(fd);
    }
};

std::string octalMode(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// The pairing the bytes hold, or why they hold none.
Result<PhonePairing, std::string> fromJson(std::string_view bytes) {
    boost::system::error_code error;
    const json::value parsed = json::parse(bytes, error);
    if (error) return "it is not JSON (" + error.message() + ")";
    const json::object* object = parsed.if_object();
    if (!object) return std::string("it is not a JSON object");
    const auto* host = stringField(*object, "host");
    const auto* fingerprint = stringField(*object, "fingerprint");
    const auto* secret = stringField(*object, "secret");
    const auto* deviceName = stringField(*object, "deviceName");
    for (const auto& [field, name] :
         {std::pair{host, "host"}, std::pair{fingerprint, "fingerprint"},
          std::pair{secret, "secret"}, std::pair{deviceName, "deviceName"}}) {
        if (!field) return std::string("its \"") + name + "\" text is missing";
    }
    const json::value* port = object->if_contains("port");
    if (!port || !port->is_int64() || port->as_int64() < 0 || port->as_int64() > 65535) {
        return std::string("its \"port\" is not a number from 0 to 65535");
    }
    return PhonePairing{std::string(*host), static_cast<std::uint16_t>(port->as_int64()),
                        std::string(*fingerprint), std::string(*secret), std::string(*deviceName)};
}

}  // namespace

std::string shellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

std::filesystem::path PhonePairing::defaultPath() {
    std::filesystem::path base;
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config == '/') {
        base = config;
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        base = std::filesystem::path(home) / ".config";
    } else {
        base = ".config";
    }
    return base / "murrelo-phone" / "pairing.json";
}

Result<std::optional<PhonePairing>, std::string> PhonePairing::load(
    const std::filesystem::path& path) {
    const std::string name = "the pairing file " + path.string();
    FileDescriptor file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    if (file.fd < 0) {
        // No file, or a file where one of its folders should be: nothing can be stored there yet.
        if (errno == ENOENT || errno == ENOTDIR) return std::optional<PhonePairing>();
        return "cannot read " + name + ": " + std::strerror(errno);
    }
    struct stat info {};
    if (::fstat(file.fd, &info) != 0) return "cannot read " + name + ": " + std::strerror(errno);
    if (S_ISDIR(info.st_mode)) return name + " is a folder, not a file";
    if (!S_ISREG(info.st_mode)) return name + " is not a regular file";
    if ((info.st_mode & kForeignAccessBits) != 0) {
        return name + " is open to other users (permissions " + octalMode(info.st_mode) +
               "), and it holds this phone's key to the computer; make it private with: chmod "
               "600 " +
               shellQuoted(path.string());
    }

    std::string bytes;
    char buffer[4096];
    for (;;) {
        const ssize_t count = ::read(file.fd, buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR) continue;
            return "cannot read " + name + ": " + std::strerror(errno);
        }
        if (count == 0) break;
        bytes.append(buffer, static_cast<std::size_t>(count));
        if (bytes.size() > kMaxFileBytes) {
            return name + " is damaged: it is larger than a pairing can be";
        }
    }
    auto pairing = fromJson(bytes);
    if (!pairing) return name + " is damaged: " + pairing.error();
    return std::optional<PhonePairing>(std::move(pairing.value()));
}

std::optional<std::string> PhonePairing::checkWritable(const std::filesystem::path& path) {
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
        return "the pairing file " + path.string() + " is a folder, not a file";
    }
    const auto folder =
        path.parent_path().empty() ? std::filesystem::path(".") : path.parent_path();
    if (auto failure = createOwnerOnlyFolders(folder)) return failure;
    // A nameless file leaves nothing behind, whatever happens next.
    int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, kOwnerOnlyFileMode);
    if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        // File systems without nameless files: a named one, removed at once.
        std::string pattern = (folder / ".pairing-check-XXXXXX").string();
        fd = ::mkstemp(pattern.data());
        if (fd >= 0) ::unlink(pattern.c_str());
    }
    if (fd < 0) return "cannot write in " + folder.string() + ": " + std::strerror(errno);
    ::close(fd);
    return std::nullopt;
}

Result<void, std::string> PhonePairing::save(const std::filesystem::path& path) const {
    json::object object;
    object["host"] = host;
    object["port"] = port;
    object["fingerprint"] = fingerprint;
    object["secret"] = secret;
    object["deviceName"] = deviceName;
    return writeFileAtomically(path, json::serialize(object) + "\n", kOwnerOnlyFileMode);
}

}  // namespace kestrune::phone
