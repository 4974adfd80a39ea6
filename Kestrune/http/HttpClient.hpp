#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "KestruneRemoteKit/Support/Result.hpp"

namespace kestrune {

struct HttpRequest {
    std::string method = "GET";
    std::string url;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    // The whole exchange, from connecting to the last byte of the answer.
    std::chrono::milliseconds timeout{60'000};
};

struct HttpResponse {
    long statusCode = 0;
    std::string body;
    bool operator==(const HttpResponse&) const = default;
};

// Why no HTTP answer came: the transport's own description, and whether the address named
// something other than an HTTP server (another scheme), which is a different message for people.
struct HttpFailure {
    std::string description;
    bool notHttp = false;
    bool operator==(const HttpFailure&) const = default;
};

using HttpOutcome = Result<HttpResponse, HttpFailure>;

// One HTTP exchange at a time per call, off the caller's thread; the completion runs on the
// queue the client was made with.
class HttpClient {
  public:
    virtual ~HttpClient() = default;
    virtual void send(HttpRequest request, std::function<void(HttpOutcome)> completion) = 0;
};

}  // namespace kestrune
