#include "platform/linux/secret/SecretServiceKeyStore.hpp"

#include <libsecret/secret.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "KestruneRemoteKit/Protocol/Utf8.hpp"
#include "KestruneRemoteKit/Support/Log.hpp"

namespace kestrune {

namespace {

constexpr std::string_view kLogCategory = "secret";
// The label people see in a keyring manager.
constexpr const char* kItemLabel = "Murrelo LLM API key";
constexpr const char* kTranscriptionItemLabel = "Murrelo transcription API key";

const SecretSchema* schema() {
    static const SecretSchema instance = {SecretServiceKeyStore::kSchemaName,
                                          SECRET_SCHEMA_NONE,
                                          {
                                              {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                              {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                              {nullptr, SecretSchemaAttributeType(0)},
                                          },
                                          0,
                                          nullptr,
                                          nullptr,
                                          nullptr,
                                          nullptr,
                                          nullptr,
                                          nullptr,
                                          nullptr};
    return &instance;
}

// A Secret Service that owns its name but never answers would hold each call for D-Bus's own
// timeout (25 s, several calls a look-up); the key is read at start, which must not wait on it.
constexpr std::chrono::seconds kReadWait{3};
// A write may wait for the keyring's prompt (unlock or create a keyring), which a person answers.
constexpr std::chrono::seconds kWriteWait{60};

// Cancels the call it is given to after `bound`, unless the call ended first.
class CallBound {
  public:
    explicit CallBound(std::chrono::seconds bound)
        : watcher_([this, bound] {
              std::unique_lock lock(mutex_);
              if (!ended_.wait_for(lock, bound, [this] { return done_; })) {
                  g_cancellable_cancel(cancellable_);
              }
          }) {}
    ~CallBound() {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        ended_.notify_all();
        watcher_.join();
        g_object_unref(cancellable_);
    }
    CallBound(const CallBound&) = delete;
    CallBound& operator=(const CallBound&) = delete;

    GCancellable* cancellable() const { return cancellable_; }

  private:
    GCancellable* cancellable_ = g_cancellable_new();
    std::mutex mutex_;
    std::condition_variable ended_;
    bool done_ = false;
    std::thread watcher_;
};

bool ranOut(const GError* error) {
    return error->domain == G_IO_ERROR && error->code == G_IO_ERROR_CANCELLED;
}

struct ErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};
using ErrorPtr = std::unique_ptr<GError, ErrorFree>;

struct ValueUnref {
    void operator()(SecretValue* value) const { secret_value_unref(value); }
};
using ValuePtr = std::unique_ptr<SecretValue, ValueUnref>;

// What went wrong in words a person can act on, followed by the Secret Service's own words.
std::string failureReason(const GError* error) {
    std::string reason;
    if (error->domain == SECRET_ERROR && error->code == SECRET_ERROR_IS_LOCKED) {
        reason = localized("The API key could not be saved because the keyring is locked.");
    } else if (ranOut(error)) {
        return localized("The API key could not be saved because the key store did not answer.");
    } else if (error->domain == G_IO_ERROR || error->domain == G_DBUS_ERROR) {
        // No session bus, no Secret Service on it, or one without a usable default keyring.
        reason = localized(
            "The API key could not be saved because no Secret Service (keyring) is available "
            "in this session.");
    } else {
        reason = localized("The API key could not be saved in the keyring.");
    }
    if (error->message) reason += std::string(" (") + error->message + ")";
    return reason;
}

}  // namespace

std::optional<std::string> SecretServiceKeyStore::read() {
    auto found = lookUp();
    return found ? std::move(found).value() : std::nullopt;
}

LLMKeyStore::LookUpResult SecretServiceKeyStore::lookUp() {
    GError* rawError = nullptr;
    ValuePtr value;
    {
        const CallBound bound(kReadWait);
        value.reset(secret_password_lookup_binary_sync(schema(), bound.cancellable(), &rawError,
                                                       "service", kService, "account",
                                                       account_.c_str(), nullptr));
    }
    ErrorPtr error(rawError);
    if (error) {
        log(LogLevel::warning, kLogCategory,
            ranOut(error.get()) ? "cannot read the API key: the key store did not answer within " +
                                      std::to_string(kReadWait.count()) + " s"
                                : std::string("cannot read the API key: ") + error->message);
        if (ranOut(error.get())) {
            return std::string(
                localized("The key store did not answer, so the API keys could not be read."));
        }
        return std::optional<std::string>();
    }
    if (!value) return std::optional<std::string>();
    gsize length = 0;
    const gchar* bytes = secret_value_get(value.get(), &length);
    std::string key(bytes, length);
    if (!detail::isValidUtf8(key)) return std::optional<std::string>();
    return std::optional<std::string>(std::move(key));
}

LLMKeyStore::WriteResult SecretServiceKeyStore::write(std::string_view value) {
    GError* rawError = nullptr;
    const CallBound bound(kWriteWait);
    if (value.empty()) {
        // False without an error means nothing was stored, which is what deleting wants.
        secret_password_clear_sync(schema(), bound.cancellable(), &rawError, "service", kService,
                                   "account", account_.c_str(), nullptr);
    } else {
        // Stored with its length, so no byte of the key is lost at a NUL.
        const ValuePtr secret(
            secret_value_new(value.data(), static_cast<gssize>(value.size()), "text/plain"));
        const char* label =
            account_ == kTranscriptionAccount ? kTranscriptionItemLabel : kItemLabel;
        secret_password_store_binary_sync(schema(), SECRET_COLLECTION_DEFAULT, label, secret.get(),
                                          bound.cancellable(), &rawError, "service", kService,
                                          "account", account_.c_str(), nullptr);
    }
    ErrorPtr error(rawError);
    if (!error) return {};
    log(LogLevel::warning, kLogCategory,
        std::string("cannot write the API key: ") + error->message);
    return failureReason(error.get());
}

}  // namespace kestrune
