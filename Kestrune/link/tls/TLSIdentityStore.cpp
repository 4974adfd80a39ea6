#include "Kestrune/link/tls/TLSIdentityStore.hpp"

#include <openssl/decoder.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>

#include "Kestrune/link/tls/ChildProcess.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "KestruneRemoteKit/Protocol/Utf8.hpp"
#include "KestruneRemoteKit/Support/Crypto.hpp"
#include "KestruneRemoteKit/Support/OwnerOnlyFolders.hpp"

namespace kestrune {

namespace {

constexpr const char* kOpensslPath = "/usr/bin/openssl";
// A 2048-bit key takes well under a second; the margin covers a loaded machine and sanitizer
// builds, while a hung tool still cannot stall the start of the phone connection forever.
constexpr std::chrono::seconds kOpensslRunTimeout{120};
// The certificate's validity: about ten years, so it effectively never lapses between pairings.
constexpr const char* kCertificateDays = "3650";

using Error = TLSIdentityStore::Error;
using Failure = TLSIdentityStore::Failure;
using SystemError = TLSIdentityStore::SystemError;

// The identity files are small; anything bigger is not ours and is not read into memory.
constexpr std::size_t kMaxIdentityFileBytes = 1 << 20;

Result<std::string, Error> readFile(const std::filesystem::path& path) {
    const auto failed = [&] {
        return Error(SystemError{{errno, std::system_category()}, "cannot read " + path.string()});
    };
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return failed();
    std::string bytes;
    char buffer[8192];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            auto error = failed();
            ::close(fd);
            return error;
        }
        if (got == 0) break;
        bytes.append(buffer, static_cast<std::size_t>(got));
        if (bytes.size() > kMaxIdentityFileBytes) {
            ::close(fd);
            errno = EFBIG;
            return failed();
        }
    }
    ::close(fd);
    return bytes;
}

// The certificate exactly as stored: trailing bytes would make the file's hash differ from the
// certificate the phones see in the handshake, so they count as a bad certificate.
std::shared_ptr<X509> parseCertificate(const std::string& der) {
    const auto* cursor = reinterpret_cast<const unsigned char*>(der.data());
    X509* certificate = d2i_X509(nullptr, &cursor, static_cast<long>(der.size()));
    if (!certificate) return nullptr;
    std::shared_ptr<X509> owned(certificate, &X509_free);
    if (cursor != reinterpret_cast<const unsigned char*>(der.data()) + der.size()) return nullptr;
    return owned;
}

// An RSA private key as PKCS#1 RSAPrivateKey or wrapped in PKCS#8 PrivateKeyInfo: OpenSSL 3's
// "openssl rsa" writes the wrapped form, older tools the bare one. The whole file must be the key.
std::shared_ptr<EVP_PKEY> parseRsaPrivateKey(const std::string& der) {
    EVP_PKEY* key = nullptr;
    std::unique_ptr<OSSL_DECODER_CTX, decltype(&OSSL_DECODER_CTX_free)> decoder(
        OSSL_DECODER_CTX_new_for_pkey(&key, "DER", nullptr, "RSA", EVP_PKEY_KEYPAIR, nullptr,
                                      nullptr),
        &OSSL_DECODER_CTX_free);
    if (!decoder) return nullptr;
    const auto* cursor = reinterpret_cast<const unsigned char*>(der.data());
    std::size_t remaining = der.size();
    const bool decoded = OSSL_DECODER_from_data(decoder.get(), &cursor, &remaining) == 1;
    std::shared_ptr<EVP_PKEY> owned(key, &EVP_PKEY_free);
    if (!decoded || !key || remaining != 0 || EVP_PKEY_get_base_id(key) != EVP_PKEY_RSA) {
        return nullptr;
    }
    return owned;
}

std::string opensslFailureText(const std::string& step, int status, const std::string& errorText) {
    return localizedFormat("openssl %s exited with status %d: %s", {step, status, errorText});
}

Result<void, Error> runOpenssl(const std::vector<std::string>& arguments) {
    auto run = runChildProcess(kOpensslPath, arguments, kOpensslRunTimeout);
    if (!run) {
        const std::string step = arguments.empty() ? std::string() : arguments.front();
        return Error(SystemError{run.error(), "cannot run openssl " + step});
    }
    if (run->succeeded()) return {};
    return Error(Failure::opensslFailed(
        opensslFailureText(arguments.empty() ? std::string() : arguments.front(), run->status,
                           detail::repairedUtf8(run->standardError))));
}

}  // namespace

TLSIdentity::TLSIdentity(std::shared_ptr<x509_st> certificate,
                         std::shared_ptr<evp_pkey_st> privateKey)
    : certificate_(std::move(certificate)), privateKey_(std::move(privateKey)) {}

bool TLSIdentity::configure(ssl_ctx_st* context) const {
    return SSL_CTX_use_certificate(context, certificate_.get()) == 1 &&
           SSL_CTX_use_PrivateKey(context, privateKey_.get()) == 1 &&
           SSL_CTX_check_private_key(context) == 1;
}

TLSIdentityStore::TLSIdentityStore(std::filesystem::path directory)
    : directory_(std::move(directory)) {}

Result<TLSIdentityStore::Loaded, Error> TLSIdentityStore::load() const {
    auto certificateBytes = readFile(directory_ / kCertificateFileName);
    if (!certificateBytes) return certificateBytes.error();
    auto keyBytes = readFile(directory_ / kKeyFileName);
    if (!keyBytes) return keyBytes.error();

    auto certificate = parseCertificate(certificateBytes.value());
    if (!certificate) return Error(Failure::badCertificate());
    auto key = parseRsaPrivateKey(keyBytes.value());
    if (!key) return Error(Failure::badKey());
    // A key.der left by an interrupted generation does not belong to the older certificate.
    if (X509_check_private_key(certificate.get(), key.get()) != 1) {
        return Error(Failure::identityFailed());
    }
    return Loaded{TLSIdentity(std::move(certificate), std::move(key)),
                  sha256Hex(certificateBytes.value())};
}

Result<void, Error> TLSIdentityStore::generate() const {
    std::error_code ec;
    // The folder holds the private key, and its parent the paired devices: owner-only.
    errno = 0;
    if (createOwnerOnlyFolders(directory_)) {
        const int code = errno != 0 ? errno : EIO;  // the failed mkdir's reason
        return Error(
            SystemError{{code, std::system_category()}, "cannot create " + directory_.string()});
    }

    const auto keyPem = (directory_ / kKeyPemFileName).string();
    const auto certificatePem = (directory_ / kCertificatePemFileName).string();
    const auto keyDer = (directory_ / kKeyFileName).string();
    const auto certificateDer = (directory_ / kCertificateFileName).string();

    auto outcome =
        runOpenssl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", kCertificateDays,
                    "-subj", "/CN=Kestrune", "-keyout", keyPem, "-out", certificatePem});
    if (outcome) outcome = runOpenssl({"rsa", "-in", keyPem, "-outform", "der", "-out", keyDer});
    if (outcome) {
        outcome =
            runOpenssl({"x509", "-in", certificatePem, "-outform", "der", "-out", certificateDer});
    }
    // Also when a later step failed: a new key.der left behind must not be readable by others.
    std::filesystem::permissions(
        keyDer, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write, ec);
    if (ec && outcome) outcome = Error(SystemError{ec, "cannot restrict " + keyDer});

    // The PEM copy holds the key in the clear; it must not outlive this call, whatever happened.
    std::filesystem::remove(keyPem, ec);
    std::filesystem::remove(certificatePem, ec);
    return outcome;
}

std::string describe(const TLSIdentityStore::Error& error) {
    if (const auto* system = std::get_if<SystemError>(&error)) {
        return system->context + ": " + system->code.message();
    }
    const auto& failure = std::get<Failure>(error);
    switch (failure.kind) {
        case Failure::Kind::opensslFailed:
            return failure.message;
        case Failure::Kind::badCertificate:
            return "The stored certificate is not a valid X.509 certificate.";
        case Failure::Kind::badKey:
            return "The stored private key is not a valid RSA private key.";
        case Failure::Kind::identityFailed:
            return "The stored certificate and private key do not belong together.";
    }
    return {};
}

}  // namespace kestrune
