#include "platform/linux/http/CurlHttpClient.hpp"

#include <curl/curl.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string_view>
#include <thread>

namespace kestrune {

struct CurlHttpClient::Shared {
    std::mutex mutex;
    std::condition_variable idle;
    int running = 0;
    std::atomic<bool> closing{false};
};

namespace {

struct Transfer {
    std::string body;
    bool tooLarge = false;
    const CurlHttpClient::Shared* shared = nullptr;
};

size_t collectBody(char* data, size_t size, size_t count, void* user) {
    auto& transfer = *static_cast<Transfer*>(user);
    const size_t bytes = size * count;
    if (transfer.body.size() + bytes > CurlHttpClient::kMaxResponseBytes) {
        transfer.tooLarge = true;
        return 0;  // makes curl stop with a write error
    }
    transfer.body.append(data, bytes);
    return bytes;
}

int abortWhenClosing(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<Transfer*>(user)->shared->closing.load() ? 1 : 0;
}

struct EasyCleanup {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct SlistCleanup {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct UrlCleanup {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

void initializeCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool isHttpScheme(std::string_view scheme) {
    return scheme == "http" || scheme == "https";
}

// libcurl sends custom header lines as given: a line break inside one would end it and start a
// header (or a body) of the value's choosing, and a NUL byte would cut it short.
bool isSafeHeaderText(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

HttpOutcome perform(const HttpRequest& request, const CurlHttpClient::Shared& shared) {
    std::unique_ptr<CURLU, UrlCleanup> url(curl_url());
    // No scheme guessing: an address without one must not silently become plain http.
    if (const auto rc =
            curl_url_set(url.get(), CURLUPART_URL, request.url.c_str(), CURLU_NON_SUPPORT_SCHEME);
        rc != CURLUE_OK) {
        return HttpFailure{curl_url_strerror(rc)};
    }
    char* scheme = nullptr;
    if (curl_url_get(url.get(), CURLUPART_SCHEME, &scheme, 0) != CURLUE_OK || !scheme) {
        return HttpFailure{"URL without a scheme"};
    }
    const bool http = isHttpScheme(scheme);
    curl_free(scheme);
    if (!http) return HttpFailure{"not an HTTP URL", true};

    std::unique_ptr<CURL, EasyCleanup> easy(curl_easy_init());
    if (!easy) return HttpFailure{"cannot start an HTTP transfer"};
    CURL* e = easy.get();
    Transfer transfer;
    transfer.shared = &shared;
    char errorBuffer[CURL_ERROR_SIZE] = {};

    std::unique_ptr<curl_slist, SlistCleanup> headers;
    for (const auto& [name, value] : request.headers) {
        // The value is left out of the reason: it may be a credential.
        if (!isSafeHeaderText(name) || !isSafeHeaderText(value)) {
            return HttpFailure{"A request header contains a line break or a NUL byte."};
        }
        headers.reset(curl_slist_append(headers.release(), (name + ": " + value).c_str()));
    }
    // Large bodies would otherwise wait for "100 Continue", which some servers never send.
    headers.reset(curl_slist_append(headers.release(), "Expect:"));

    curl_easy_setopt(e, CURLOPT_CURLU, url.get());
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(e, CURLOPT_MAXREDIRS, CurlHttpClient::kMaxRedirects);
    curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, static_cast<long>(request.timeout.count()));
    curl_easy_setopt(e, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, collectBody);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, abortWhenClosing);
    curl_easy_setopt(e, CURLOPT_XFERINFODATA, &transfer);
    if (request.method == "POST") {
        curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(request.body.size()));
        curl_easy_setopt(e, CURLOPT_POSTFIELDS, request.body.data());
    } else if (request.method != "GET") {
        curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    }

    const CURLcode code = curl_easy_perform(e);
    if (code != CURLE_OK) {
        if (transfer.tooLarge) {
            return HttpFailure{"The response is larger than " +
                               std::to_string(CurlHttpClient::kMaxResponseBytes) + " bytes."};
        }
        if (code == CURLE_UNSUPPORTED_PROTOCOL) return HttpFailure{errorBuffer, true};
        return HttpFailure{errorBuffer[0] ? errorBuffer : curl_easy_strerror(code)};
    }
    long status = 0;
    curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &status);
    return HttpResponse{status, std::move(transfer.body)};
}

}  // namespace

CurlHttpClient::CurlHttpClient(MainQueue& deliverOn)
    : deliverOn_(deliverOn), shared_(std::make_shared<Shared>()) {
    initializeCurlOnce();
}

CurlHttpClient::~CurlHttpClient() {
    shared_->closing = true;
    std::unique_lock lock(shared_->mutex);
    shared_->idle.wait(lock, [&] { return shared_->running == 0; });
}

void CurlHttpClient::send(HttpRequest request, std::function<void(HttpOutcome)> completion) {
    {
        std::lock_guard lock(shared_->mutex);
        ++shared_->running;
    }
    std::thread([shared = shared_, &queue = deliverOn_, request = std::move(request),
                 completion = std::move(completion)]() mutable {
        auto outcome = perform(request, *shared);
        std::lock_guard lock(shared->mutex);
        // The queue outlives the client, and the client waits for this thread before it goes.
        if (!shared->closing) {
            queue.post([completion = std::move(completion), outcome = std::move(outcome)] {
                completion(outcome);
            });
        } else {
            // Released while the closing owner waits below, not after it has moved on: the
            // completion may hold objects that belong to the owner's thread.
            completion = nullptr;
        }
        --shared->running;
        shared->idle.notify_all();
    }).detach();
}

}  // namespace kestrune
