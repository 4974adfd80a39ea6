#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace kestrune::testing {

// What the server received: the request line, the headers (names lower-cased) and the body.
struct ReceivedRequest {
    std::string method;
    std::string target;
    std::map<std::string, std::string> headers;
    std::string body;
};

// How the server answers one request.
struct ScriptedAnswer {
    enum class Kind { respond, hold, closeEarly };
    Kind kind = Kind::respond;
    int status = 200;
    std::string body;
    std::string contentType = "application/json";
    std::vector<std::pair<std::string, std::string>> extraHeaders;

    static ScriptedAnswer json(int status, std::string body) {
        return {Kind::respond, status, std::move(body), "application/json", {}};
    }
    static ScriptedAnswer redirect(int status, std::string location) {
        return {Kind::respond, status, {}, "text/plain", {{"Location", std::move(location)}}};
    }
    // Never answers; the connection stays open until the server stops.
    static ScriptedAnswer hold() { return {Kind::hold, 0, {}, {}, {}}; }
    // Reads the request and closes without a byte of answer.
    static ScriptedAnswer closeEarly() { return {Kind::closeEarly, 0, {}, {}, {}}; }
};

// A plain-socket HTTP/1.1 server on 127.0.0.1 with a free port, speaking just enough of the
// protocol to stand in for a chat-completions service: one request per connection, answers
// given by the test.
class LocalChatServer {
  public:
    LocalChatServer();
    ~LocalChatServer();

    std::uint16_t port() const { return port_; }
    std::string baseURL(const std::string& path = "/v1") const;

    void answerNext(ScriptedAnswer answer);
    std::vector<ReceivedRequest> requests() const;

  private:
    void serve();
    void handle(int client);

    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    std::vector<ScriptedAnswer> answers_;
    std::vector<ReceivedRequest> requests_;
    std::vector<int> heldClients_;
    std::thread thread_;
};

}  // namespace kestrune::testing
