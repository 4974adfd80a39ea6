#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "Kestrune/link/server/OutboxPort.hpp"
#include "KestruneRemoteKit/Protocol/PushContent.hpp"
#include "KestruneRemoteKit/Protocol/RemoteMessage.hpp"
#include "KestruneRemoteKit/Support/MainQueue.hpp"
#include "KestruneRemoteKit/Support/Result.hpp"
#include "KestruneRemoteKit/Support/StoredFile.hpp"
#include "KestruneRemoteKit/Support/Uuid.hpp"

namespace kestrune {

// What the user sends to the phones, kept until every addressed phone has acknowledged it. Texts
// and pictures persist as files in `directory` ("state.json" plus one file per item, mode 600);
// passwords live in memory only. Every operation is safe from any thread: the server's queue
// pushes and acknowledges while the main thread enqueues. So the change callback is one slot, set
// by the outbox's one owner, rather than `Observers`: it is called on both threads, and
// `Observers` belongs to a single queue.
class Outbox : public OutboxPort, public std::enable_shared_from_this<Outbox> {
  public:
    using Content = PushContent;

    using Item = OutboxItem;

    enum class Failure { noDevices };
    // A file could not be written; the outbox is as it was before the call.
    struct WriteError {
        std::string description;
        bool operator==(const WriteError&) const = default;
    };
    using EnqueueError = std::variant<Failure, WriteError>;

    using Clock = std::function<Date()>;

    // The most items kept; sending more pushes out the oldest.
    static constexpr std::size_t kMaxItems = 20;
    // A phone away for a day no longer wants what was sent for the moment.
    static constexpr std::chrono::seconds kItemLifetime{86'400};
    // A password on the clipboard is meant for now; it must not linger.
    static constexpr std::chrono::seconds kSecretLifetime{600};
    // One second past the lifetime, so the timed purge always finds the password expired.
    static constexpr std::chrono::seconds kSecretPurgeDelay =
        kSecretLifetime + std::chrono::seconds{1};

    static constexpr const char* kStateFileName = "state.json";

    // Loads what an earlier run left in `directory` and drops what has expired; item files that
    // cannot be read are kept aside and reported, never deleted. `purgeQueue` runs the timed
    // password purge and must outlive the outbox.
    static std::shared_ptr<Outbox> create(std::filesystem::path directory, MainQueue& purgeQueue,
                                          Clock now = systemClock(),
                                          const StoreProblemReport& reportProblem = {});

    Outbox(const Outbox&) = delete;
    Outbox& operator=(const Outbox&) = delete;

    // Adds an item addressed to `devices` (duplicates count once).
    Result<Item, EnqueueError> enqueue(Content content, const std::vector<Uuid>& devices);

    // The items still addressed to `device`, oldest first, without expired passwords.
    std::vector<Item> pending(const Uuid& device) const override;
    bool isPending(std::string_view id) const;
    // Takes `device` off the item; true when that changed anything.
    bool acknowledge(std::string_view id, const Uuid& device) override;
    // Takes an unpaired phone off every item.
    void removeDevice(const Uuid& device) override;
    // Drops every item; sequence numbers keep counting up.
    void clear();
    void purgeExpiredSecrets();
    // The number of items, not counting expired passwords.
    std::size_t count() const;
    std::int64_t lastSeq() const;

    // Runs after every change of the item list, on the changing thread, with no lock held, so it
    // may call back into the outbox.
    void setOnChange(std::function<void()> onChange);

    const std::filesystem::path& directory() const override { return directory_; }
    // Where a picture item's bytes are; none for other items.
    std::optional<std::filesystem::path> imagePath(const Item& item) const;

    static Clock systemClock();

  private:
    Outbox(std::filesystem::path directory, MainQueue& purgeQueue, Clock now,
           const StoreProblemReport& reportProblem);

    void load(const StoreProblemReport& reportProblem);
    void purgeExpired(Date now);
    bool isExpiredSecret(const Item& item, Date now) const;
    void deleteFiles(const Item& item) const;
    void rewrite(const Item& item) const;
    std::function<void()> onChangeIf(bool changed) const;

    const std::filesystem::path directory_;
    MainQueue& purgeQueue_;
    const Clock now_;

    mutable std::mutex lock_;
    std::vector<Item> items_;
    std::int64_t lastSeq_ = 0;
    std::function<void()> onChange_;
};

}  // namespace kestrune
