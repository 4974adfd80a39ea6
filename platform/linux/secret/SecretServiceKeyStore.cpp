#include "platform/linux/secret/SecretServiceKeyStore.hpp"

#include <libsecret/secret.h>

#include <memory>
#include <string>

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
    GError* rawError = nullptr;
    ValuePtr value(secret_password_lookup_binary_sync(
        schema(), nullptr, &rawError, "service", kService, "account", account_.c_str(), nullptr));
    ErrorPtr error(rawError);
    if (error) {
        log(LogLevel::warning, kLogCategory,
            std::string("cannot read the API key: ") + error->message);
        return std::nullopt;
    }
    if (!value) return std::nullopt;
    gsize length = 0;
    const gchar* bytes = secret_value_get(value.get(), &length);
    std::string key(bytes, length);
    if (!detail::isValidUtf8(key)) return std::nullopt;
    return key;
}

LLMKeyStore::WriteResult SecretServiceKeyStore::write(std::string_view value) {
    GError* rawError = nullptr;
    if (value.empty()) {
        // False without an error means nothing was stored, which is what deleting wants.
        secret_password_clear_sync(schema(), nullptr, &rawError, "service", kService, "account",
                                   account_.c_str(), nullptr);
    } else {
        // Stored with its length, so no byte of the key is lost at a NUL.
        const ValuePtr secret(
            secret_value_new(value.data(), static_cast<gssize>(value.size()), "text/plain"));
        const char* label =
            account_ == kTranscriptionAccount ? kTranscriptionItemLabel : kItemLabel;
        secret_password_store_binary_sync(schema(), SECRET_COLLECTION_DEFAULT, label, secret.get(),
                                          nullptr, &rawError, "service", kService, "account",
                                          account_.c_str(), nullptr);
    }
    ErrorPtr error(rawError);
    if (!error) return {};
    log(LogLevel::warning, kLogCategory,
        std::string("cannot write the API key: ") + error->message);
    return failureReason(error.get());
}

}  // namespace kestrune
