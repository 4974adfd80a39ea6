#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "Kestrune/defaults/DefaultsValue.hpp"
#include "KestruneRemoteKit/Support/Observers.hpp"
#include "KestruneRemoteKit/Support/StoredFile.hpp"
#include "KestruneRemoteKit/Support/Subscription.hpp"

namespace kestrune {

// The settings database of one domain: typed values by key, kept in memory after one read at
// start and written through to `<directory>/<domain>.json` (atomically, owner-only) on every
// change. A file that cannot be read is kept aside, never written over: the settings start from
// their defaults, or, when it cannot even be moved, are not saved for this run; both are reported,
// like the first failure to save. A value of another kind than the one asked for reads as absent.
// Other domains of the same directory are reachable whole, as "persistent domains", for moving
// settings between them. Values may be read and written from any thread; observing belongs to the
// main thread, like every change that observers care about.
class UserDefaults {
  public:
    // The application's own domain; the composition root chooses its folder.
    static constexpr std::string_view kStandardDomain = "zz.holvanis.murrelo";

    UserDefaults(std::filesystem::path directory, std::string domain,
                 StoreProblemReport reportProblem = {});
    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    const std::string& domain() const { return domain_; }
    std::filesystem::path fileOf(std::string_view domainName) const;

    std::optional<DefaultsValue> object(std::string_view key) const;
    std::optional<bool> boolean(std::string_view key) const;
    std::optional<std::int64_t> integer(std::string_view key) const;
    std::optional<std::string> string(std::string_view key) const;
    std::optional<StringList> stringList(std::string_view key) const;

    // A value that would make the file too large to load at the next start is refused (logged).
    void set(std::string_view key, DefaultsValue value);
    void remove(std::string_view key);

    // A whole domain; none when it was never written or cannot be read.
    std::optional<DefaultsDictionary> persistentDomain(std::string_view name) const;
    // Replaces a whole domain (this one included, which then notifies each changed key).
    void setPersistentDomain(DefaultsDictionary values, std::string_view name);

    // Called with the key after every change that altered a value.
    Subscription observe(std::function<void(const std::string& key)> observer);

  private:
    // Writes the encoded domain, with the lock held; the problem to report once it is released.
    std::optional<StoreProblem> saveLocked(const std::string& encoded);
    void report(const std::optional<StoreProblem>& problem) const;
    void notify(const std::vector<std::string>& keys);

    std::filesystem::path directory_;
    std::string domain_;
    StoreProblemReport reportProblem_;
    mutable std::mutex mutex_;
    // False when an unreadable file is still in the way: saving would destroy it.
    bool writable_ = true;
    // The user hears of the first failed save only; every later one is logged.
    bool saveFailureReported_ = false;
    DefaultsDictionary values_;
    Observers<std::string> observers_;
};

// Reads a domain file; none when it is missing, unreadable or not a settings object (logged).
std::optional<DefaultsDictionary> loadDefaultsDomain(const std::filesystem::path& file);

}  // namespace kestrune
