#include "Kestrune/phone/outbox/Outbox.hpp"

#include <algorithm>
#include <set>

#include "Kestrune/phone/outbox/OutboxCoding.hpp"
#include "KestruneRemoteKit/Support/AtomicFile.hpp"
#include "KestruneRemoteKit/Support/Log.hpp"

namespace kestrune {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kLogCategory = "outbox";
constexpr std::string_view kJsonSuffix = ".json";
// A text is at most 4 MiB of UTF-8 and JSON escaping can grow a byte to six; a bigger file is not
// an item of ours and is not read into memory.
constexpr std::uintmax_t kMaxItemFileBytes = 32u << 20;

bool endsWithJson(const std::string& name) {
    return name.size() >= kJsonSuffix.size() &&
           name.compare(name.size() - kJsonSuffix.size(), kJsonSuffix.size(), kJsonSuffix) == 0;
}

std::optional<std::string> readSmallFile(const fs::path& path) {
    std::error_code ec;
    const auto size = fs::file_size(path, ec);
    if (ec || size > kMaxItemFileBytes) return std::nullopt;
    return readWholeFile(path);
}

void removeQuietly(const fs::path& path) {
    std::error_code ec;
    fs::remove(path, ec);
}

// Removes `device` from the list; true when it was there.
bool takeDevice(std::vector<Uuid>& devices, const Uuid& device) {
    const auto found = std::find(devices.begin(), devices.end(), device);
    if (found == devices.end()) return false;
    devices.erase(found);
    return true;
}

std::vector<Uuid> withoutDuplicates(const std::vector<Uuid>& devices) {
    std::vector<Uuid> unique;
    for (const auto& device : devices) {
        if (std::find(unique.begin(), unique.end(), device) == unique.end())
            unique.push_back(device);
    }
    return unique;
}

}  // namespace

Outbox::Clock Outbox::systemClock() {
    return [] { return std::chrono::system_clock::now(); };
}

std::shared_ptr<Outbox> Outbox::create(fs::path directory, MainQueue& purgeQueue, Clock now,
                                       const StoreProblemReport& reportProblem) {
    return std::shared_ptr<Outbox>(
        new Outbox(std::move(directory), purgeQueue, std::move(now), reportProblem));
}

Outbox::Outbox(fs::path directory, MainQueue& purgeQueue, Clock now,
               const StoreProblemReport& reportProblem)
    : directory_(std::move(directory)), purgeQueue_(purgeQueue), now_(std::move(now)) {
    std::lock_guard guard(lock_);
    load(reportProblem);
    purgeExpired(now_());
}

void Outbox::load(const StoreProblemReport& reportProblem) {
    if (auto state = readSmallFile(directory_ / kStateFileName)) {
        if (auto lastSeq = decodeOutboxState(*state)) lastSeq_ = *lastSeq;
    }

    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator entry(directory_, ec), end; !ec && entry != end;
         entry.increment(ec)) {
        names.push_back(entry->path().filename().string());
    }

    std::vector<std::string> keptAside;
    for (const auto& name : names) {
        if (!endsWithJson(name) || name == kStateFileName) continue;
        const auto bytes = readSmallFile(directory_ / name);
        auto item = bytes ? decodeOutboxItem(*bytes) : std::nullopt;
        // The file must carry its own name, or removing the item would leave it behind; a picture
        // item without its picture cannot be delivered.
        const bool usable =
            item && outboxItemFileName(item->id) == name &&
            (!item->imageFile || fs::is_regular_file(directory_ / *item->imageFile, ec));
        if (!usable) {
            // Kept, not deleted: what it holds may be the only copy of something the user sent.
            // One that cannot be moved stays as it is; no new item ever takes its name.
            auto kept = keepAside(directory_ / name);
            log(LogLevel::warning, kLogCategory,
                "unreadable item file " + name +
                    (kept ? " kept as " + kept.value().string()
                          : " left in place: " + kept.error()));
            keptAside.push_back(kept ? kept.value().filename().string() : name);
            continue;
        }
        items_.push_back(std::move(*item));
    }
    std::sort(items_.begin(), items_.end(),
              [](const Item& a, const Item& b) { return a.seq < b.seq; });
    if (!items_.empty()) lastSeq_ = std::max(lastSeq_, items_.back().seq);

    std::set<std::string> pictures;
    for (const auto& item : items_) {
        if (item.imageFile) pictures.insert(*item.imageFile);
    }
    // Pictures of items that are gone, and temporary files of writes a crash interrupted.
    for (const auto& name : names) {
        if (!endsWithJson(name) && !pictures.contains(name) && !isKeptAside(name)) {
            removeQuietly(directory_ / name);
        }
    }
    if (keptAside.empty() || !reportProblem) return;
    std::string list;
    for (const auto& name : keptAside) list += (list.empty() ? "" : ", ") + name;
    reportProblem({directory_,
                   "Items waiting to be sent to your phones could not be read and "
                   "were kept in " +
                       directory_.string() + " (" + list + "); they will not be sent."});
}

bool Outbox::isExpiredSecret(const Item& item, Date now) const {
    return item.isSecret() && item.createdAt < now - kSecretLifetime;
}

void Outbox::purgeExpired(Date now) {
    std::erase_if(items_, [&](const Item& item) {
        const bool expired = item.createdAt < now - kItemLifetime || isExpiredSecret(item, now);
        if (expired) deleteFiles(item);
        return expired;
    });
}

void Outbox::deleteFiles(const Item& item) const {
    removeQuietly(directory_ / outboxItemFileName(item.id));
    if (item.imageFile) removeQuietly(directory_ / *item.imageFile);
}

void Outbox::rewrite(const Item& item) const {
    if (item.isSecret()) return;
    if (auto written =
            writeFileAtomically(directory_ / outboxItemFileName(item.id), encodeOutboxItem(item));
        !written) {
        log(LogLevel::warning, kLogCategory, "cannot rewrite item: " + written.error());
    }
}

std::function<void()> Outbox::onChangeIf(bool changed) const {
    return changed ? onChange_ : std::function<void()>();
}

Result<Outbox::Item, Outbox::EnqueueError> Outbox::enqueue(Content content,
                                                           const std::vector<Uuid>& devices) {
    if (devices.empty()) return EnqueueError(Failure::noDevices);

    std::function<void()> changed;
    Item item;
    {
        std::lock_guard guard(lock_);
        const Date now = now_();
        purgeExpired(now);
        const auto id = Uuid::random();
        if (!id) return EnqueueError(WriteError{"cannot make an item identifier"});
        item.id = id->uuidString();

        std::vector<fs::path> written;
        const auto undo = [&](const std::string& description) {
            for (const auto& path : written) removeQuietly(path);
            return EnqueueError(WriteError{description});
        };

        if (auto* text = content.as<Content::Text>()) {
            item.text = std::move(text->text);
        } else if (auto* secret = content.as<Content::Secret>()) {
            item.secret = std::move(secret->secret);
        } else {
            auto& image = *content.as<Content::Image>();
            item.imageFormat = std::string(rawValue(image.format));
            item.imageFile = outboxImageFileName(item.id, image.format);
            const auto path = directory_ / *item.imageFile;
            const std::string_view bytes(reinterpret_cast<const char*>(image.data.data()),
                                         image.data.size());
            if (auto written = writeFileAtomically(path, bytes); !written) {
                return undo(written.error());
            }
            written.push_back(path);
        }

        item.seq = lastSeq_ + 1;
        item.createdAt = std::chrono::floor<std::chrono::microseconds>(now);
        item.pendingDevices = withoutDuplicates(devices);

        if (auto written =
                writeFileAtomically(directory_ / kStateFileName, encodeOutboxState(item.seq));
            !written) {
            return undo(written.error());
        }
        // The number is spent even if the item file fails below: it is on disk already.
        lastSeq_ = item.seq;

        if (!item.isSecret()) {
            const auto path = directory_ / outboxItemFileName(item.id);
            if (auto written = writeFileAtomically(path, encodeOutboxItem(item)); !written) {
                return undo(written.error());
            }
        }

        items_.push_back(item);
        while (items_.size() > kMaxItems) {
            deleteFiles(items_.front());
            items_.erase(items_.begin());
        }
        changed = onChangeIf(true);
    }
    if (changed) changed();

    if (item.isSecret()) {
        // Weakly, not through a Lifetime: the outbox is shared with the server's thread and may be
        // released there, while this check runs on the purge queue.
        purgeQueue_.postAfter(kSecretPurgeDelay, [weak = weak_from_this()] {
            if (auto outbox = weak.lock()) outbox->purgeExpiredSecrets();
        });
    }
    return item;
}

std::vector<Outbox::Item> Outbox::pending(const Uuid& device) const {
    std::lock_guard guard(lock_);
    const Date now = now_();
    std::vector<Item> result;
    for (const auto& item : items_) {
        if (isExpiredSecret(item, now)) continue;
        const auto& devices = item.pendingDevices;
        if (std::find(devices.begin(), devices.end(), device) != devices.end()) {
            result.push_back(item);
        }
    }
    return result;
}

bool Outbox::isPending(std::string_view id) const {
    std::lock_guard guard(lock_);
    const Date now = now_();
    return std::any_of(items_.begin(), items_.end(), [&](const Item& item) {
        return item.id == id && !isExpiredSecret(item, now);
    });
}

bool Outbox::acknowledge(std::string_view id, const Uuid& device) {
    std::function<void()> changed;
    {
        std::lock_guard guard(lock_);
        const auto found = std::find_if(items_.begin(), items_.end(),
                                        [&](const Item& item) { return item.id == id; });
        if (found == items_.end() || !takeDevice(found->pendingDevices, device)) return false;
        if (found->pendingDevices.empty()) {
            deleteFiles(*found);
            items_.erase(found);
        } else {
            rewrite(*found);
        }
        changed = onChangeIf(true);
    }
    if (changed) changed();
    return true;
}

void Outbox::removeDevice(const Uuid& device) {
    std::function<void()> changed;
    {
        std::lock_guard guard(lock_);
        bool anything = false;
        for (auto item = items_.begin(); item != items_.end();) {
            if (!takeDevice(item->pendingDevices, device)) {
                ++item;
                continue;
            }
            anything = true;
            if (item->pendingDevices.empty()) {
                deleteFiles(*item);
                item = items_.erase(item);
            } else {
                rewrite(*item);
                ++item;
            }
        }
        changed = onChangeIf(anything);
    }
    if (changed) changed();
}

void Outbox::clear() {
    std::function<void()> changed;
    {
        std::lock_guard guard(lock_);
        for (const auto& item : items_) deleteFiles(item);
        items_.clear();
        changed = onChangeIf(true);
    }
    if (changed) changed();
}

void Outbox::purgeExpiredSecrets() {
    std::function<void()> changed;
    {
        std::lock_guard guard(lock_);
        const Date now = now_();
        const auto removed =
            std::erase_if(items_, [&](const Item& item) { return isExpiredSecret(item, now); });
        changed = onChangeIf(removed > 0);
    }
    if (changed) changed();
}

std::size_t Outbox::count() const {
    std::lock_guard guard(lock_);
    const Date now = now_();
    return static_cast<std::size_t>(
        std::count_if(items_.begin(), items_.end(),
                      [&](const Item& item) { return !isExpiredSecret(item, now); }));
}

std::int64_t Outbox::lastSeq() const {
    std::lock_guard guard(lock_);
    return lastSeq_;
}

void Outbox::setOnChange(std::function<void()> onChange) {
    std::lock_guard guard(lock_);
    onChange_ = std::move(onChange);
}

std::optional<fs::path> Outbox::imagePath(const Item& item) const {
    if (!item.imageFile) return std::nullopt;
    return directory_ / *item.imageFile;
}

}  // namespace kestrune
