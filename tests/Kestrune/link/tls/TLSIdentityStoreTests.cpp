#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <openssl/encoder.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <sys/stat.h>
#include <algorithm>
#include <cctype>
#include <fstream>

#include "Kestrune/link/tls/ChildProcess.hpp"
#include "Kestrune/link/tls/TLSIdentityStore.hpp"
#include "KestruneRemoteKit/Protocol/Utf8.hpp"
#include "KestruneRemoteKit/Support/AtomicFile.hpp"
#include "KestruneRemoteKit/Support/Crypto.hpp"
#include "tests/support/TemporaryDirectory.hpp"

namespace kestrune {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;
using ::testing::StartsWith;
using Failure = TLSIdentityStore::Failure;
using testing::TemporaryDirectory;

void writeFile(const fs::path& path, std::string_view bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

std::string readFile(const fs::path& path) {
    return readWholeFile(path).value_or("");
}

mode_t permissionBits(const fs::path& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0);
    return info.st_mode & 07777;
}

std::string randomBytes(std::size_t count) {
    auto bytes = secureRandomBytes(count).value();
    return {bytes.begin(), bytes.end()};
}

// What the openssl tool itself reports as the certificate's SHA-256 fingerprint, as our hex form.
std::string fingerprintByTheTool(const fs::path& certificate) {
    auto run = runChildProcess("/usr/bin/openssl",
                               {"x509", "-inform", "der", "-in", certificate.string(), "-noout",
                                "-fingerprint", "-sha256"},
                               std::chrono::seconds(60));
    EXPECT_TRUE(run.ok() && run->succeeded());
    if (!run.ok()) return {};
    const std::string line = run->standardOutput;
    std::string hex;
    for (char c : line.substr(line.find('=') + 1)) {
        if (std::isxdigit(static_cast<unsigned char>(c))) {
            hex += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
    }
    return hex;
}

std::string encodeKey(EVP_PKEY* key, const char* structure) {
    std::unique_ptr<OSSL_ENCODER_CTX, decltype(&OSSL_ENCODER_CTX_free)> encoder(
        OSSL_ENCODER_CTX_new_for_pkey(key, EVP_PKEY_KEYPAIR, "DER", structure, nullptr),
        &OSSL_ENCODER_CTX_free);
    unsigned char* data = nullptr;
    std::size_t length = 0;
    EXPECT_EQ(OSSL_ENCODER_to_data(encoder.get(), &data, &length), 1);
    std::string bytes(reinterpret_cast<char*>(data), length);
    OPENSSL_free(data);
    return bytes;
}

std::optional<Failure> failureOf(const TLSIdentityStore::Error& error) {
    if (const auto* failure = std::get_if<Failure>(&error)) return *failure;
    return std::nullopt;
}

std::optional<std::error_code> systemCodeOf(const TLSIdentityStore::Error& error) {
    if (const auto* system = std::get_if<TLSIdentityStore::SystemError>(&error)) {
        return system->code;
    }
    return std::nullopt;
}

class TLSIdentityStoreTest : public ::testing::Test {
  protected:
    TLSIdentityStore::Loaded generateAndLoad() {
        const auto generated = store.generate();
        EXPECT_TRUE(generated) << describe(generated.error());
        auto loaded = store.load();
        EXPECT_TRUE(loaded.ok()) << describe(loaded.error());
        return std::move(loaded).value();
    }

    TemporaryDirectory directory{"tls-identity"};
    TLSIdentityStore store{directory.path() / "Murrelo" / "Remote"};
    fs::path storeFile(const char* name) const { return store.directory() / name; }
};

TEST_F(TLSIdentityStoreTest, FirstRunFailsToLoadThenGeneratesAUsableIdentity) {
    auto missing = store.load();
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(systemCodeOf(missing.error()), std::errc::no_such_file_or_directory);

    const auto loaded = generateAndLoad();

    EXPECT_EQ(permissionBits(storeFile("key.der")), 0600u);
    // The folders it made hold the key and, one up, the paired devices: owner-only.
    EXPECT_EQ(permissionBits(store.directory()), 0700u);
    EXPECT_EQ(permissionBits(store.directory().parent_path()), 0700u);
    EXPECT_FALSE(fs::exists(storeFile("key.pem")));
    EXPECT_FALSE(fs::exists(storeFile("cert.pem")));
    EXPECT_THAT(loaded.fingerprint, MatchesRegex("[0-9a-f]{64}"));
    EXPECT_EQ(loaded.fingerprint, fingerprintByTheTool(storeFile("cert.der")));
    unsigned char* der = nullptr;
    const int derLength = i2d_X509(loaded.identity.certificate(), &der);
    ASSERT_GT(derLength, 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(der), static_cast<std::size_t>(derLength)),
              readFile(storeFile("cert.der")));
    OPENSSL_free(der);

    // What the generation asked for: a 2048-bit RSA key and a self-signed certificate for
    // "Kestrune" valid for 3650 days.
    EXPECT_EQ(EVP_PKEY_get_base_id(loaded.identity.privateKey()), EVP_PKEY_RSA);
    EXPECT_EQ(EVP_PKEY_get_bits(loaded.identity.privateKey()), 2048);
    char commonName[64] = {};
    X509_NAME_get_text_by_NID(X509_get_subject_name(loaded.identity.certificate()), NID_commonName,
                              commonName, sizeof commonName);
    EXPECT_STREQ(commonName, "Kestrune");
    int days = 0, seconds = 0;
    ASSERT_EQ(ASN1_TIME_diff(&days, &seconds, X509_get0_notBefore(loaded.identity.certificate()),
                             X509_get0_notAfter(loaded.identity.certificate())),
              1);
    EXPECT_EQ(days, 3650);
}

TEST_F(TLSIdentityStoreTest, IdentityServesATlsContext) {
    const auto loaded = generateAndLoad();

    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> context(SSL_CTX_new(TLS_server_method()),
                                                              &SSL_CTX_free);
    ASSERT_TRUE(loaded.identity.configure(context.get()));
    EXPECT_EQ(X509_cmp(SSL_CTX_get0_certificate(context.get()), loaded.identity.certificate()), 0);
}

TEST_F(TLSIdentityStoreTest, LoadingTwiceGivesTheSameFingerprintAndRegeneratingChangesIt) {
    const auto first = generateAndLoad();
    auto again = store.load();
    ASSERT_TRUE(again.ok());
    EXPECT_EQ(again->fingerprint, first.fingerprint);

    // A key file that lost its restriction gets it back, and stale PEM output is cleared away.
    fs::permissions(storeFile("key.der"), fs::perms(0644));
    writeFile(storeFile("key.pem"), "stale");
    writeFile(storeFile("cert.pem"), "stale");

    const auto second = generateAndLoad();
    EXPECT_NE(second.fingerprint, first.fingerprint);
    EXPECT_EQ(second.fingerprint, fingerprintByTheTool(storeFile("cert.der")));
    EXPECT_EQ(permissionBits(storeFile("key.der")), 0600u);
    // The folders it made hold the key and, one up, the paired devices: owner-only.
    EXPECT_EQ(permissionBits(store.directory()), 0700u);
    EXPECT_EQ(permissionBits(store.directory().parent_path()), 0700u);
    EXPECT_FALSE(fs::exists(storeFile("key.pem")));
    EXPECT_FALSE(fs::exists(storeFile("cert.pem")));
}

TEST_F(TLSIdentityStoreTest, DamagedOrMismatchedFilesAreReportedByKind) {
    generateAndLoad();
    const std::string certificate = readFile(storeFile("cert.der"));
    const std::string key = readFile(storeFile("key.der"));
    const auto loadFailure = [&] {
        auto loaded = store.load();
        EXPECT_FALSE(loaded.ok());
        return loaded.ok() ? std::nullopt : failureOf(loaded.error());
    };

    writeFile(storeFile("cert.der"), randomBytes(800));
    EXPECT_EQ(loadFailure(), Failure::badCertificate());
    writeFile(storeFile("cert.der"), "");
    EXPECT_EQ(loadFailure(), Failure::badCertificate());
    // Extra bytes would make the file's fingerprint differ from the certificate phones receive.
    writeFile(storeFile("cert.der"), certificate + "\n");
    EXPECT_EQ(loadFailure(), Failure::badCertificate());

    writeFile(storeFile("cert.der"), certificate);
    writeFile(storeFile("key.der"), randomBytes(1200));
    EXPECT_EQ(loadFailure(), Failure::badKey());
    writeFile(storeFile("key.der"), key.substr(0, key.size() / 2));
    EXPECT_EQ(loadFailure(), Failure::badKey());

    writeFile(storeFile("key.der"), key + "x");
    EXPECT_EQ(loadFailure(), Failure::badKey());
    // A private key of another kind is not an RSA key.
    EVP_PKEY* ecKey = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
    ASSERT_NE(ecKey, nullptr);
    writeFile(storeFile("key.der"), encodeKey(ecKey, "PrivateKeyInfo"));
    EVP_PKEY_free(ecKey);
    EXPECT_EQ(loadFailure(), Failure::badKey());

    // The bare PKCS#1 form of the same key (what other openssl builds write) is accepted.
    const auto loaded = generateAndLoad();
    writeFile(storeFile("key.der"), encodeKey(loaded.identity.privateKey(), "type-specific"));
    auto fromPkcs1 = store.load();
    ASSERT_TRUE(fromPkcs1.ok());
    EXPECT_EQ(fromPkcs1->fingerprint, loaded.fingerprint);

    // A key from another generation (an interrupted run leaves exactly this) does not combine.
    writeFile(storeFile("key.der"), key);
    EXPECT_EQ(loadFailure(), Failure::identityFailed());

    fs::remove(storeFile("key.der"));
    auto missingKey = store.load();
    ASSERT_FALSE(missingKey.ok());
    EXPECT_EQ(systemCodeOf(missingKey.error()), std::errc::no_such_file_or_directory);
    EXPECT_THAT(describe(missingKey.error()), HasSubstr("key.der"));
}

TEST_F(TLSIdentityStoreTest, FailedOpensslRunNamesStepStatusAndToolOutput) {
    // openssl cannot write its key where a folder stands, so the very first step fails.
    fs::create_directories(storeFile("key.pem"));

    const auto generated = store.generate();
    ASSERT_FALSE(generated);
    const auto& failure = generated.error();
    const auto kind = failureOf(failure);
    ASSERT_TRUE(kind.has_value()) << describe(failure);
    EXPECT_EQ(kind->kind, Failure::Kind::opensslFailed);
    EXPECT_THAT(kind->message, StartsWith("openssl req exited with status 1: "));
    EXPECT_GT(kind->message.size(), std::string("openssl req exited with status 1: ").size());
    EXPECT_EQ(describe(failure), kind->message);

    // Nothing half-made is left: no PEM output and no certificate.
    EXPECT_FALSE(fs::exists(storeFile("key.pem")));
    EXPECT_FALSE(fs::exists(storeFile("cert.pem")));
    EXPECT_FALSE(fs::exists(storeFile("cert.der")));
    EXPECT_FALSE(store.load().ok());
}

TEST_F(TLSIdentityStoreTest, ToolOutputThatIsNotUtf8IsRepairedInTheMessage) {
    // The tool quotes the path it could not write, and a folder name may hold any bytes: here a
    // cut-short three-byte sequence and a byte that never starts one.
    const TLSIdentityStore oddStore(directory.path() / "odd\xE2\x82-\xFF-name");
    fs::create_directories(oddStore.directory() / "key.pem");

    const auto generated = oddStore.generate();
    ASSERT_FALSE(generated);
    const auto& failure = generated.error();
    const auto kind = failureOf(failure);
    ASSERT_TRUE(kind.has_value()) << describe(failure);
    EXPECT_TRUE(detail::isValidUtf8(kind->message));
    // Each ill-formed piece becomes one replacement character, as text decoding does.
    EXPECT_THAT(kind->message, HasSubstr("odd\xEF\xBF\xBD-\xEF\xBF\xBD-name"));
}

TEST_F(TLSIdentityStoreTest, GenerationFailingAtTheLastStepIsRepairedByTheNextOne) {
    // The certificate cannot be written where a folder stands: the key step has already run.
    fs::create_directories(storeFile("cert.der"));

    const auto generated = store.generate();
    ASSERT_FALSE(generated);
    const auto& failure = generated.error();
    ASSERT_TRUE(failureOf(failure).has_value()) << describe(failure);
    EXPECT_THAT(failureOf(failure)->message, StartsWith("openssl x509 exited with status 1: "));
    EXPECT_FALSE(fs::exists(storeFile("key.pem")));
    EXPECT_FALSE(fs::exists(storeFile("cert.pem")));
    ASSERT_TRUE(fs::exists(storeFile("key.der")));
    EXPECT_EQ(permissionBits(storeFile("key.der")), 0600u);
    EXPECT_FALSE(store.load().ok());

    fs::remove(storeFile("cert.der"));
    const auto loaded = generateAndLoad();
    EXPECT_EQ(loaded.fingerprint, fingerprintByTheTool(storeFile("cert.der")));
}

TEST_F(TLSIdentityStoreTest, UnmakeableDirectoryIsAFileSystemError) {
    writeFile(directory.path() / "Murrelo", "a file where the folder should be");
    const auto generated = store.generate();
    ASSERT_FALSE(generated);
    const auto& failure = generated.error();
    EXPECT_TRUE(systemCodeOf(failure).has_value()) << describe(failure);
}

}  // namespace
}  // namespace kestrune
