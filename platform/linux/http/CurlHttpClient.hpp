#pragma once

#include <memory>

#include "Kestrune/http/HttpClient.hpp"
#include "KestruneRemoteKit/Support/MainQueue.hpp"

namespace kestrune {

// HTTP and HTTPS through libcurl, one thread per exchange (they are rare and may take many
// seconds), results posted to `deliverOn`. Only http and https are spoken, redirects included;
// the system's proxy settings and certificate store apply.
class CurlHttpClient final : public HttpClient {
  public:
    // An answer larger than this is not a reply we could use; refusing it bounds memory.
    static constexpr std::size_t kMaxResponseBytes = 8 * 1024 * 1024;
    // Enough for a service that moved, without following a loop for the whole time-out.
    static constexpr long kMaxRedirects = 5;

    explicit CurlHttpClient(MainQueue& deliverOn);
    // Aborts the exchanges in flight and waits for their threads; their completions never run.
    ~CurlHttpClient() override;
    CurlHttpClient(const CurlHttpClient&) = delete;
    CurlHttpClient& operator=(const CurlHttpClient&) = delete;

    void send(HttpRequest request, std::function<void(HttpOutcome)> completion) override;

    struct Shared;

  private:
    MainQueue& deliverOn_;
    std::shared_ptr<Shared> shared_;
};

}  // namespace kestrune
