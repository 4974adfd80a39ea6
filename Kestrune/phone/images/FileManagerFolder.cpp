#include "Kestrune/phone/images/FileManagerFolder.hpp"

#include "KestruneRemoteKit/Support/SerialQueue.hpp"

namespace kestrune::FileManagerFolder {

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<std::string> percentDecoded(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        const int high = hexValue(text[i + 1]), low = hexValue(text[i + 2]);
        if (high < 0 || low < 0) return std::nullopt;
        out.push_back(static_cast<char>(high * 16 + low));
        i += 2;
    }
    return out;
}

}  // namespace

std::optional<std::filesystem::path> parse(std::string_view output) {
    while (!output.empty() && isSpace(output.front())) output.remove_prefix(1);
    while (!output.empty() && isSpace(output.back())) output.remove_suffix(1);
    static constexpr std::string_view kScheme = "file://";
    if (output.size() <= kScheme.size() || !output.starts_with(kScheme)) return std::nullopt;
    std::string_view rest = output.substr(kScheme.size());
    // "file://localhost/…" names this machine too; any other host is not a local folder.
    if (rest.starts_with("localhost/")) rest.remove_prefix(std::string_view("localhost").size());
    if (rest.empty() || rest.front() != '/') return std::nullopt;
    if (rest.find_first_of("?#") != std::string_view::npos) return std::nullopt;
    auto path = percentDecoded(rest);
    if (!path || path->find('\0') != std::string::npos) return std::nullopt;
    return std::filesystem::path(*path);
}

Answer classify(std::optional<std::string> output, std::optional<std::string> errorName) {
    if (errorName) {
        if (*errorName == "org.freedesktop.DBus.Error.AccessDenied" ||
            *errorName == "org.freedesktop.DBus.Error.AuthFailed") {
            return Answer::denied();
        }
        if (*errorName == "org.freedesktop.DBus.Error.NoReply" ||
            *errorName == "org.freedesktop.DBus.Error.Timeout" ||
            *errorName == "org.freedesktop.DBus.Error.TimedOut") {
            return Answer::timedOut();
        }
        return Answer::none();
    }
    if (!output) return Answer::none();
    if (auto folder = parse(*output)) return Answer::makeFolder(std::move(*folder));
    return Answer::none();
}

SerialAsker::SerialAsker(Execute execute)
    : execute_(std::move(execute)),
      shared_(std::make_shared<Shared>()),
      queue_(std::make_unique<SerialQueue>("Kestrune.FileManagerFolder.ask")) {}

SerialAsker::~SerialAsker() = default;

Answer SerialAsker::ask(std::chrono::milliseconds timeout) {
    std::unique_lock lock(shared_->lock);
    if (shared_->inFlight) return Answer::timedOut();
    shared_->inFlight = true;
    shared_->answer.reset();
    const std::uint64_t question = ++shared_->question;
    lock.unlock();

    queue_->post([shared = shared_, execute = execute_, question] {
        Answer answer = execute();
        std::lock_guard done(shared->lock);
        if (shared->question == question) shared->answer = std::move(answer);
        shared->inFlight = false;
        shared->answered.notify_all();
    });

    lock.lock();
    const bool arrived = shared_->answered.wait_for(lock, timeout, [&] {
        return shared_->answer.has_value() || shared_->question != question;
    });
    if (!arrived || !shared_->answer) return Answer::timedOut();
    Answer answer = std::move(*shared_->answer);
    shared_->answer.reset();
    return answer;
}

}  // namespace kestrune::FileManagerFolder
