#pragma once

#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "KestruneRemoteKit/Protocol/RemoteMessage.hpp"
#include "KestruneRemoteKit/Support/Result.hpp"
#include "KestruneRemoteKit/Support/StoredFile.hpp"
#include "KestruneRemoteKit/Support/Uuid.hpp"

namespace kestrune {

// A phone the user approved. Only the hash of its secret is kept: the secret itself went to the
// phone once, in the reply to its pairing request.
struct PairedDevice {
    Uuid id;
    std::string name;
    // SHA-256 of the secret's UTF-8 bytes, 64 lower-case hexadecimal characters.
    std::string secretHash;
    Date pairedAt;
    Date lastConnectedAt;
    // The computer's identity was made anew after this phone paired: the phone pins the old one
    // and cannot connect until it pairs again. Stored only when set, so files stay readable by
    // earlier versions.
    bool needsNewPairing = false;

    bool operator==(const PairedDevice&) const = default;
};

// The hash stored for a secret: taken over the secret's characters exactly as sent, so a secret
// in another letter case is a different secret.
std::string hashSecret(std::string_view secret);

// The devices file: a pretty-printed JSON array with sorted keys, identifiers in upper case and
// dates as seconds since 1970.
std::string encodePairedDevices(const std::vector<PairedDevice>& devices);
// The devices of a devices file, and a description of each element that is not a device (its
// position, and its identifier when it has one): one damaged entry costs no other pairing.
struct DecodedPairedDevices {
    std::vector<PairedDevice> devices;
    std::vector<std::string> skipped;
};
// Fails only when the file as a whole is not a JSON array.
Result<DecodedPairedDevices, std::string> decodePairedDeviceList(std::string_view json);
// None unless every element carries all five fields in their proper form.
std::optional<std::vector<PairedDevice>> decodePairedDevices(std::string_view json);

// The phones allowed to use the link, persisted in "devices.json". Shared by the server's queue
// and the main thread: every access holds the lock, including the file write of a change, and the
// callbacks run after the lock is released, on the thread that made the change, so they may call
// back into the store. Because they run on both threads, each callback is one slot with one user
// (the server follows removals, Phone Connection's controller changes) rather than `Observers`,
// which belongs to a single queue.
class PairedDeviceStore {
  public:
    // 32 random bytes (256 bits): the secret stands in for a password the phone keeps forever.
    static constexpr std::size_t kSecretByteCount = 32;

    struct Failure {
        std::string message;
        bool operator==(const Failure&) const = default;
    };
    struct Registration {
        PairedDevice device;
        // 64 lower-case hexadecimal characters; never stored here, only handed to the phone.
        std::string secret;
    };

    // A devices file holds a few hundred bytes per phone; one far larger was not written by us.
    static constexpr std::size_t kMaxFileBytes = 1024 * 1024;

    // Loads the file. One that cannot be read is kept aside and the list starts empty; entries
    // that do not decode are skipped, the file as it was is kept aside, and only then is it
    // rewritten with the sound entries. Both reach `reportProblem`; when the file cannot be kept,
    // nothing is saved over it for the life of the store, and pairing fails saying why.
    explicit PairedDeviceStore(std::filesystem::path filePath,
                               StoreProblemReport reportProblem = {});
    PairedDeviceStore(const PairedDeviceStore&) = delete;
    PairedDeviceStore& operator=(const PairedDeviceStore&) = delete;

    const std::filesystem::path& filePath() const { return filePath_; }

    bool contains(const Uuid& id) const;

    // Makes a secret and an identifier for a newly approved phone and saves it; nothing changes
    // when the file cannot be written or no secure random bytes are available.
    Result<Registration, Failure> registerDevice(std::string_view name, Date now);

    // The device whose secret this is, with its last connection time set to now. Succeeds even
    // when that time cannot be saved (it is kept in memory).
    std::optional<PairedDevice> authenticate(std::string_view secret, Date now);

    // Forgets every device with this identifier; nothing changes when the file cannot be written.
    [[nodiscard]] Result<void, Failure> remove(const Uuid& id);

    // Marks every device as needing a new pairing (the computer's identity changed); the marks
    // stay in memory when the file cannot be written.
    [[nodiscard]] Result<void, Failure> markAllNeedingNewPairing();

    // The current list, in pairing order.
    std::vector<PairedDevice> devices() const;

    void setOnRemove(std::function<void(const Uuid&)> onRemove);
    void setOnChange(std::function<void()> onChange);

  private:
    // Writes `devices` and, only when that worked, makes it the in-memory list. Lock held.
    Result<void, Failure> saveLocked(std::vector<PairedDevice> devices);

    void load(const StoreProblemReport& reportProblem);

    const std::filesystem::path filePath_;
    mutable std::mutex lock_;
    // Why nothing may be written: a damaged file could not be kept aside. None when writable.
    std::optional<std::string> readOnlyReason_;
    std::vector<PairedDevice> devices_;
    std::function<void(const Uuid&)> onRemove_;
    std::function<void()> onChange_;
};

}  // namespace kestrune
