#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <variant>

#include "KestruneRemoteKit/Support/Result.hpp"

// OpenSSL's own type names, declared here so users of the identity need no OpenSSL headers.
struct x509_st;
struct evp_pkey_st;
struct ssl_ctx_st;

namespace kestrune {

// The server's certificate and its private key, held by OpenSSL. Copies share the same objects.
class TLSIdentity {
  public:
    TLSIdentity(std::shared_ptr<x509_st> certificate, std::shared_ptr<evp_pkey_st> privateKey);

    x509_st* certificate() const { return certificate_.get(); }
    evp_pkey_st* privateKey() const { return privateKey_.get(); }

    // Installs certificate and key in a TLS context (an asio ssl::context's native_handle()).
    // False when OpenSSL refuses either or they do not belong together.
    bool configure(ssl_ctx_st* context) const;

  private:
    std::shared_ptr<x509_st> certificate_;
    std::shared_ptr<evp_pkey_st> privateKey_;
};

// Keeps the link's self-signed certificate and RSA key as "cert.der" and "key.der" in a folder,
// makes them with /usr/bin/openssl, and loads them as an identity plus the fingerprint phones pin.
class TLSIdentityStore {
  public:
    struct Failure {
        enum class Kind { opensslFailed, badCertificate, badKey, identityFailed };
        Kind kind = Kind::identityFailed;
        // opensslFailed: the localized text naming the step, its exit status and what it printed.
        std::string message;

        static Failure opensslFailed(std::string message) {
            return {Kind::opensslFailed, std::move(message)};
        }
        static Failure badCertificate() { return {Kind::badCertificate, {}}; }
        static Failure badKey() { return {Kind::badKey, {}}; }
        static Failure identityFailed() { return {Kind::identityFailed, {}}; }
        bool operator==(const Failure&) const = default;
    };

    // A file-system error or a failure to launch (or a hung) openssl, as the system reports it.
    struct SystemError {
        std::error_code code;
        // What was being done, e.g. the path that could not be read.
        std::string context;
        bool operator==(const SystemError&) const = default;
    };

    using Error = std::variant<Failure, SystemError>;

    struct Loaded {
        TLSIdentity identity;
        // SHA-256 of the certificate's DER bytes, 64 lower-case hexadecimal digits.
        std::string fingerprint;
    };

    static constexpr const char* kCertificateFileName = "cert.der";
    static constexpr const char* kKeyFileName = "key.der";
    static constexpr const char* kCertificatePemFileName = "cert.pem";
    static constexpr const char* kKeyPemFileName = "key.pem";

    explicit TLSIdentityStore(std::filesystem::path directory);

    const std::filesystem::path& directory() const { return directory_; }

    Result<Loaded, Error> load() const;

    // Makes a new key and certificate, replacing the old files.
    Result<void, Error> generate() const;

  private:
    std::filesystem::path directory_;
};

// A one-line description of an error for the user or the log (never contains key material).
std::string describe(const TLSIdentityStore::Error& error);

}  // namespace kestrune
