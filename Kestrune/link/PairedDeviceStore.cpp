#include "Kestrune/link/PairedDeviceStore.hpp"

#include <algorithm>
#include <boost/json.hpp>
#include <charconv>

#include "KestruneRemoteKit/Support/AtomicFile.hpp"
#include "KestruneRemoteKit/Support/Crypto.hpp"
#include "KestruneRemoteKit/Support/Log.hpp"
#include "KestruneRemoteKit/Support/SecondsSince1970.hpp"

namespace kestrune {

namespace json = boost::json;

namespace {

constexpr std::string_view kLogCategory = "PairedDeviceStore";
constexpr std::string_view kIndent = "  ";

void appendNumber(std::string& out, double number) {
    char buffer[64];
    // Shortest text that reads back as the same double, without an exponent.
    const auto result =
        std::to_chars(buffer, buffer + sizeof(buffer), number, std::chars_format::fixed);
    if (result.ec == std::errc()) {
        out.append(buffer, result.ptr);
    } else {
        out += json::serialize(json::value(number));
    }
}

void appendPretty(std::string& out, const json::value& value, std::size_t depth) {
    const auto newline = [&](std::size_t level) {
        out += '\n';
        for (std::size_t i = 0; i < level; ++i) out += kIndent;
    };
    switch (value.kind()) {
        case json::kind::object: {
            const auto& object = value.get_object();
            if (object.empty()) {
                out += "{}";
                return;
            }
            std::vector<const json::key_value_pair*> members;
            for (const auto& member : object) members.push_back(&member);
            std::sort(members.begin(), members.end(),
                      [](const auto* a, const auto* b) { return a->key() < b->key(); });
            out += '{';
            for (std::size_t i = 0; i < members.size(); ++i) {
                newline(depth + 1);
                out += json::serialize(json::string(members[i]->key()));
                out += " : ";
                appendPretty(out, members[i]->value(), depth + 1);
                if (i + 1 < members.size()) out += ',';
            }
            newline(depth);
            out += '}';
            return;
        }
        case json::kind::array: {
            const auto& array = value.get_array();
            if (array.empty()) {
                out += "[]";
                return;
            }
            out += '[';
            for (std::size_t i = 0; i < array.size(); ++i) {
                newline(depth + 1);
                appendPretty(out, array[i], depth + 1);
                if (i + 1 < array.size()) out += ',';
            }
            newline(depth);
            out += ']';
            return;
        }
        case json::kind::double_:
            appendNumber(out, value.get_double());
            return;
        default:
            out += json::serialize(value);
            return;
    }
}

std::optional<Date> dateFromSeconds(const json::value& value) {
    if (!value.is_number()) return std::nullopt;
    return timeFromSecondsSince1970(value.to_number<double>());
}

std::optional<std::string> stringField(const json::object& object, std::string_view key) {
    const auto* value = object.if_contains(key);
    if (!value || !value->is_string()) return std::nullopt;
    return std::string(value->get_string());
}

std::optional<PairedDevice> decodeDevice(const json::value& element) {
    const auto* object = element.if_object();
    if (!object) return std::nullopt;
    const auto idText = stringField(*object, "id");
    const auto name = stringField(*object, "name");
    const auto secretHash = stringField(*object, "secretHash");
    const auto* pairedAtValue = object->if_contains("pairedAt");
    const auto* lastConnectedValue = object->if_contains("lastConnectedAt");
    if (!idText || !name || !secretHash || !pairedAtValue || !lastConnectedValue) {
        return std::nullopt;
    }
    const auto id = Uuid::parse(*idText);
    const auto pairedAt = dateFromSeconds(*pairedAtValue);
    const auto lastConnectedAt = dateFromSeconds(*lastConnectedValue);
    if (!id || !pairedAt || !lastConnectedAt) return std::nullopt;
    const auto* mark = object->if_contains("needsNewPairing");
    if (mark && !mark->is_bool()) return std::nullopt;
    return PairedDevice{
        *id, *name, *secretHash, *pairedAt, *lastConnectedAt, mark && mark->get_bool()};
}

}  // namespace

std::string hashSecret(std::string_view secret) {
    return sha256Hex(secret);
}

std::string encodePairedDevices(const std::vector<PairedDevice>& devices) {
    json::array array;
    for (const auto& device : devices) {
        json::object entry{
            {"id", device.id.uuidString()},
            {"name", device.name},
            {"secretHash", device.secretHash},
            {"pairedAt", secondsSince1970(device.pairedAt)},
            {"lastConnectedAt", secondsSince1970(device.lastConnectedAt)},
        };
        if (device.needsNewPairing) entry["needsNewPairing"] = true;
        array.push_back(std::move(entry));
    }
    std::string out;
    appendPretty(out, array, 0);
    return out;
}

Result<DecodedPairedDevices, std::string> decodePairedDeviceList(std::string_view text) {
    boost::system::error_code error;
    const json::value root = json::parse(text, error);
    if (error) return "not valid JSON: " + error.message();
    if (!root.is_array()) return std::string("not a JSON list");
    DecodedPairedDevices decoded;
    const auto& elements = root.get_array();
    for (std::size_t i = 0; i < elements.size(); ++i) {
        if (auto device = decodeDevice(elements[i])) {
            decoded.devices.push_back(std::move(*device));
            continue;
        }
        std::string entry = "entry " + std::to_string(i + 1);
        const auto* object = elements[i].if_object();
        // The identifier only: the name is the phone's, the hash a secret's.
        if (const auto id = object ? stringField(*object, "id") : std::nullopt;
            id && Uuid::parse(*id)) {
            entry += " (" + *id + ")";
        }
        decoded.skipped.push_back(std::move(entry));
    }
    return decoded;
}

std::optional<std::vector<PairedDevice>> decodePairedDevices(std::string_view text) {
    auto decoded = decodePairedDeviceList(text);
    if (!decoded || !decoded.value().skipped.empty()) return std::nullopt;
    return std::move(decoded.value().devices);
}

PairedDeviceStore::PairedDeviceStore(std::filesystem::path filePath,
                                     StoreProblemReport reportProblem)
    : filePath_(std::move(filePath)) {
    load(reportProblem);
}

void PairedDeviceStore::load(const StoreProblemReport& reportProblem) {
    constexpr std::string_view what = "The paired-devices file";
    constexpr std::string_view reset = "phones must be paired again";
    const auto cannotKeep = [&] {
        readOnlyReason_ =
            "the paired-devices file " + filePath_.string() + " could not be read nor moved aside";
    };
    auto bytes = readStoredFile(filePath_, kMaxFileBytes);
    if (!bytes) {
        if (!setAsideUnreadable(filePath_, bytes.error(), what, reset, reportProblem)) cannotKeep();
        return;
    }
    if (!bytes.value()) return;
    auto decoded = decodePairedDeviceList(*bytes.value());
    if (!decoded) {
        if (!setAsideUnreadable(filePath_, decoded.error(), what, reset, reportProblem)) {
            cannotKeep();
        }
        return;
    }
    devices_ = std::move(decoded.value().devices);
    const auto& skipped = decoded.value().skipped;
    if (skipped.empty()) return;
    std::string entries;
    for (const auto& entry : skipped) {
        log(LogLevel::warning, kLogCategory,
            "skipping " + entry + " of " + filePath_.string() + ": not a paired device");
        entries += (entries.empty() ? "" : ", ") + entry;
    }
    StoreProblem problem{filePath_, {}};
    const std::string unread =
        "Some paired phones in " + filePath_.string() + " could not be read (" + entries + ")";
    // The file as it is now stays beside it; then it holds the sound entries only, so the next
    // start has nothing to report again.
    if (auto kept = keepCopyAside(filePath_, *bytes.value())) {
        problem.message = unread + "; the file was kept as " + kept.value().string() +
                          " and those phones must be paired again.";
        if (auto rewritten = saveLocked(devices_); !rewritten) {
            log(LogLevel::warning, kLogCategory,
                "could not rewrite the devices file: " + rewritten.error().message);
        }
    } else {
        readOnlyReason_ = "the damaged paired-devices file " + filePath_.string() +
                          " could not be kept aside (" + kept.error() + ")";
        problem.message = unread + " and the file could not be kept aside (" + kept.error() +
                          "); no pairing will be saved in this run.";
    }
    log(LogLevel::error, kLogCategory, problem.message);
    if (reportProblem) reportProblem(problem);
}

bool PairedDeviceStore::contains(const Uuid& id) const {
    std::lock_guard guard(lock_);
    return std::any_of(devices_.begin(), devices_.end(),
                       [&](const PairedDevice& device) { return device.id == id; });
}

Result<PairedDeviceStore::Registration, PairedDeviceStore::Failure>
PairedDeviceStore::registerDevice(std::string_view name, Date now) {
    const auto secretBytes = secureRandomBytes(kSecretByteCount);
    const auto id = Uuid::random();
    if (!secretBytes || !id) return Failure{"the secure random source failed"};
    std::string secret = hexLower(secretBytes->data(), secretBytes->size());
    PairedDevice device{*id, std::string(name), hashSecret(secret), now, now};

    std::function<void()> onChange;
    {
        std::lock_guard guard(lock_);
        auto updated = devices_;
        updated.push_back(device);
        if (auto saved = saveLocked(std::move(updated)); !saved) return saved.error();
        onChange = onChange_;
    }
    if (onChange) onChange();
    return Registration{std::move(device), std::move(secret)};
}

std::optional<PairedDevice> PairedDeviceStore::authenticate(std::string_view secret, Date now) {
    const std::string hash = hashSecret(secret);
    PairedDevice found;
    std::function<void()> onChange;
    Result<void, Failure> saved;
    {
        std::lock_guard guard(lock_);
        // Every stored hash is compared in full, so the time taken tells nothing about the match.
        std::optional<std::size_t> index;
        for (std::size_t i = 0; i < devices_.size(); ++i) {
            if (constantTimeEquals(devices_[i].secretHash, hash) && !index) index = i;
        }
        if (!index) return std::nullopt;
        devices_[*index].lastConnectedAt = now;
        found = devices_[*index];
        saved = saveLocked(devices_);
        if (saved) onChange = onChange_;
    }
    // Logged, like the callbacks, once the lock is released: a log sink may read the store.
    if (!saved) {
        log(LogLevel::warning, kLogCategory,
            "could not save the last connection time: " + saved.error().message);
    }
    if (onChange) onChange();
    return found;
}

Result<void, PairedDeviceStore::Failure> PairedDeviceStore::remove(const Uuid& id) {
    std::function<void(const Uuid&)> onRemove;
    std::function<void()> onChange;
    {
        std::lock_guard guard(lock_);
        auto updated = devices_;
        std::erase_if(updated, [&](const PairedDevice& device) { return device.id == id; });
        if (auto saved = saveLocked(std::move(updated)); !saved) return saved;
        onRemove = onRemove_;
        onChange = onChange_;
    }
    if (onRemove) onRemove(id);
    if (onChange) onChange();
    return {};
}

Result<void, PairedDeviceStore::Failure> PairedDeviceStore::markAllNeedingNewPairing() {
    std::function<void()> onChange;
    Result<void, Failure> saved;
    {
        std::lock_guard guard(lock_);
        if (devices_.empty()) return {};
        auto marked = devices_;
        for (auto& device : marked) device.needsNewPairing = true;
        saved = saveLocked(marked);
        // Shown even when it cannot be saved: the phones cannot connect either way.
        if (!saved) devices_ = std::move(marked);
        onChange = onChange_;
    }
    if (onChange) onChange();
    return saved;
}

std::vector<PairedDevice> PairedDeviceStore::devices() const {
    std::lock_guard guard(lock_);
    return devices_;
}

void PairedDeviceStore::setOnRemove(std::function<void(const Uuid&)> onRemove) {
    std::lock_guard guard(lock_);
    onRemove_ = std::move(onRemove);
}

void PairedDeviceStore::setOnChange(std::function<void()> onChange) {
    std::lock_guard guard(lock_);
    onChange_ = std::move(onChange);
}

Result<void, PairedDeviceStore::Failure> PairedDeviceStore::saveLocked(
    std::vector<PairedDevice> devices) {
    if (readOnlyReason_) return Failure{*readOnlyReason_};
    if (auto written = writeFileAtomically(filePath_, encodePairedDevices(devices)); !written) {
        return Failure{written.error()};
    }
    devices_ = std::move(devices);
    return {};
}

}  // namespace kestrune
