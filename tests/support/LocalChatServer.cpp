#include "tests/support/LocalChatServer.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace kestrune::testing {

namespace {

std::string lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    return text;
}

std::string trimmed(const std::string& text) {
    const auto begin = text.find_first_not_of(" \t");
    const auto end = text.find_last_not_of(" \t\r");
    return begin == std::string::npos ? "" : text.substr(begin, end - begin + 1);
}

bool sendAll(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const auto n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

std::optional<ReceivedRequest> readRequest(int fd) {
    std::string data;
    char buffer[4096];
    std::size_t headerEnd = std::string::npos;
    while ((headerEnd = data.find("\r\n\r\n")) == std::string::npos) {
        const auto n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) return std::nullopt;
        data.append(buffer, static_cast<std::size_t>(n));
    }
    ReceivedRequest request;
    const std::string head = data.substr(0, headerEnd);
    std::size_t lineEnd = head.find("\r\n");
    const std::string requestLine = head.substr(0, lineEnd);
    const auto firstSpace = requestLine.find(' ');
    const auto secondSpace = requestLine.find(' ', firstSpace + 1);
    request.method = requestLine.substr(0, firstSpace);
    request.target = requestLine.substr(firstSpace + 1, secondSpace - firstSpace - 1);
    while (lineEnd != std::string::npos && lineEnd < head.size()) {
        const auto next = head.find("\r\n", lineEnd + 2);
        const std::string line = head.substr(lineEnd + 2, next - lineEnd - 2);
        const auto colon = line.find(':');
        if (colon != std::string::npos) {
            request.headers[lowered(line.substr(0, colon))] = trimmed(line.substr(colon + 1));
        }
        lineEnd = next;
    }
    const auto length =
        request.headers.count("content-length") ? std::stoul(request.headers["content-length"]) : 0;
    request.body = data.substr(headerEnd + 4);
    while (request.body.size() < length) {
        const auto n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) return std::nullopt;
        request.body.append(buffer, static_cast<std::size_t>(n));
    }
    return request;
}

}  // namespace

LocalChatServer::LocalChatServer() {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) ||
        ::listen(listener_, 16)) {
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    socklen_t size = sizeof address;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
}

LocalChatServer::~LocalChatServer() {
    stopping_ = true;
    thread_.join();
    ::close(listener_);
    for (int fd : heldClients_) ::close(fd);
}

std::string LocalChatServer::baseURL(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

void LocalChatServer::answerNext(ScriptedAnswer answer) {
    std::lock_guard lock(mutex_);
    answers_.push_back(std::move(answer));
}

std::vector<ReceivedRequest> LocalChatServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

void LocalChatServer::serve() {
    while (!stopping_) {
        pollfd waiting{listener_, POLLIN, 0};
        // Wakes up regularly to notice the end of the test.
        if (::poll(&waiting, 1, 20) <= 0) continue;
        const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client >= 0) handle(client);
    }
}

void LocalChatServer::handle(int client) {
    auto request = readRequest(client);
    ScriptedAnswer answer = ScriptedAnswer::json(500, "{\"error\":\"no answer scripted\"}");
    {
        std::lock_guard lock(mutex_);
        if (request) requests_.push_back(*request);
        if (!answers_.empty()) {
            answer = answers_.front();
            answers_.erase(answers_.begin());
        }
    }
    switch (answer.kind) {
        case ScriptedAnswer::Kind::hold:
            heldClients_.push_back(client);
            return;
        case ScriptedAnswer::Kind::closeEarly:
            ::close(client);
            return;
        case ScriptedAnswer::Kind::respond:
            break;
    }
    std::string headers;
    for (const auto& [name, value] : answer.extraHeaders) headers += name + ": " + value + "\r\n";
    const std::string response = "HTTP/1.1 " + std::to_string(answer.status) + " Scripted\r\n" +
                                 headers + "Content-Type: " + answer.contentType + "\r\n" +
                                 "Content-Length: " + std::to_string(answer.body.size()) +
                                 "\r\nConnection: close\r\n\r\n" + answer.body;
    sendAll(client, response);
    ::close(client);
}

}  // namespace kestrune::testing
