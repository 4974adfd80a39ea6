#include "Kestrune/defaults/UserDefaults.hpp"

#include "Kestrune/defaults/DefaultsFile.hpp"
#include "KestruneRemoteKit/Support/AtomicFile.hpp"
#include "KestruneRemoteKit/Support/Log.hpp"

namespace kestrune {

namespace {

constexpr std::string_view kLogCategory = "defaults";

template <typename T>
std::optional<T> as(const std::optional<DefaultsValue>& value) {
    if (!value) return std::nullopt;
    if (const T* typed = std::get_if<T>(&*value)) return *typed;
    return std::nullopt;
}

}  // namespace

namespace {

// What the settings file holds, or why it cannot be used.
Result<std::optional<DefaultsDictionary>, std::string> readDomain(
    const std::filesystem::path& file) {
    auto bytes = readStoredFile(file, kMaxDefaultsFileBytes);
    if (!bytes) return std::move(bytes.error());
    if (!bytes.value()) return std::optional<DefaultsDictionary>{};
    auto decoded = decodeDefaultsFile(*bytes.value());
    if (!decoded) return std::move(decoded.error());
    for (const auto& key : decoded.value().skippedKeys) {
        // The key only: a value could be anything, a secret included.
        log(LogLevel::warning, kLogCategory,
            "ignoring the value of \"" + key + "\" in " + file.string() + ": unsupported kind");
    }
    return std::optional<DefaultsDictionary>(std::move(decoded.value().values));
}

}  // namespace

std::optional<DefaultsDictionary> loadDefaultsDomain(const std::filesystem::path& file) {
    auto read = readDomain(file);
    if (!read) {
        log(LogLevel::warning, kLogCategory, "ignoring " + file.string() + ": " + read.error());
        return std::nullopt;
    }
    return std::move(read.value());
}

UserDefaults::UserDefaults(std::filesystem::path directory, std::string domain,
                           StoreProblemReport reportProblem)
    : directory_(std::move(directory)),
      domain_(std::move(domain)),
      reportProblem_(std::move(reportProblem)) {
    auto read = readDomain(fileOf(domain_));
    if (!read) {
        writable_ = setAsideUnreadable(fileOf(domain_), read.error(), "The settings file",
                                       "the settings start from their defaults", reportProblem_);
    } else if (read.value()) {
        values_ = std::move(*read.value());
    }
}

std::filesystem::path UserDefaults::fileOf(std::string_view domainName) const {
    return directory_ / (std::string(domainName) + ".json");
}

std::optional<DefaultsValue> UserDefaults::object(std::string_view key) const {
    std::lock_guard lock(mutex_);
    const auto found = values_.find(key);
    if (found == values_.end()) return std::nullopt;
    return found->second;
}

std::optional<bool> UserDefaults::boolean(std::string_view key) const {
    return as<bool>(object(key));
}

std::optional<std::int64_t> UserDefaults::integer(std::string_view key) const {
    return as<std::int64_t>(object(key));
}

std::optional<std::string> UserDefaults::string(std::string_view key) const {
    return as<std::string>(object(key));
}

std::optional<StringList> UserDefaults::stringList(std::string_view key) const {
    return as<StringList>(object(key));
}

void UserDefaults::set(std::string_view key, DefaultsValue value) {
    std::optional<StoreProblem> problem;
    {
        std::lock_guard lock(mutex_);
        const auto found = values_.find(key);
        if (found != values_.end() && found->second == value) return;
        std::optional<DefaultsValue> previous;
        if (found != values_.end()) previous = std::move(found->second);
        values_.insert_or_assign(std::string(key), std::move(value));
        auto encoded = encodeDefaultsFile(values_);
        if (encoded.size() > kMaxDefaultsFileBytes) {
            // Saved, the file would be refused as a whole at the next start, every other
            // setting with it; the value is refused instead.
            if (previous) {
                values_.insert_or_assign(std::string(key), std::move(*previous));
            } else {
                values_.erase(values_.find(key));
            }
            log(LogLevel::error, kLogCategory,
                "refusing a value of \"" + std::string(key) + "\" too large for the settings file");
            return;
        }
        problem = saveLocked(encoded);
    }
    report(problem);
    notify({std::string(key)});
}

void UserDefaults::remove(std::string_view key) {
    std::optional<StoreProblem> problem;
    {
        std::lock_guard lock(mutex_);
        const auto found = values_.find(key);
        if (found == values_.end()) return;
        values_.erase(found);
        problem = saveLocked(encodeDefaultsFile(values_));
    }
    report(problem);
    notify({std::string(key)});
}

std::optional<DefaultsDictionary> UserDefaults::persistentDomain(std::string_view name) const {
    if (name == domain_) {
        std::lock_guard lock(mutex_);
        return values_;
    }
    return loadDefaultsDomain(fileOf(name));
}

void UserDefaults::setPersistentDomain(DefaultsDictionary values, std::string_view name) {
    if (name != domain_) {
        if (auto written = writeFileAtomically(fileOf(name), encodeDefaultsFile(values));
            !written) {
            log(LogLevel::error, kLogCategory,
                "could not save domain " + std::string(name) + ": " + written.error());
        }
        return;
    }
    std::vector<std::string> changed;
    std::optional<StoreProblem> problem;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [key, value] : values_) {
            const auto next = values.find(key);
            if (next == values.end() || next->second != value) changed.push_back(key);
        }
        for (const auto& [key, value] : values) {
            if (!values_.count(key)) changed.push_back(key);
        }
        values_ = std::move(values);
        problem = saveLocked(encodeDefaultsFile(values_));
    }
    report(problem);
    notify(changed);
}

Subscription UserDefaults::observe(std::function<void(const std::string& key)> observer) {
    return observers_.add(std::move(observer));
}

std::optional<StoreProblem> UserDefaults::saveLocked(const std::string& encoded) {
    if (!writable_) return std::nullopt;
    const auto file = fileOf(domain_);
    auto written = writeFileAtomically(file, encoded);
    if (written) return std::nullopt;
    // The value stays in memory for this run; only its persistence failed.
    log(LogLevel::error, kLogCategory, "could not save domain " + domain_ + ": " + written.error());
    if (saveFailureReported_) return std::nullopt;
    saveFailureReported_ = true;
    return StoreProblem{file, "Settings could not be saved to " + file.string() + " (" +
                                  written.error() + "); changes last only until Murrelo quits."};
}

void UserDefaults::report(const std::optional<StoreProblem>& problem) const {
    if (problem && reportProblem_) reportProblem_(*problem);
}

void UserDefaults::notify(const std::vector<std::string>& keys) {
    for (const auto& key : keys) observers_.notify(key);
}

}  // namespace kestrune
