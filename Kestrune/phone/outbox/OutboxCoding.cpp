#include "Kestrune/phone/outbox/OutboxCoding.hpp"

#include <boost/json.hpp>

#include <algorithm>

#include "KestruneRemoteKit/Support/SecondsSince1970.hpp"

namespace kestrune {

namespace json = boost::json;

namespace {

// Deeper than an item ever is; stops a hostile file from costing parse time and stack.
constexpr std::size_t kMaxJsonDepth = 8;

std::optional<json::value> parseObject(std::string_view text) {
    json::parse_options options;
    options.max_depth = kMaxJsonDepth;
    boost::system::error_code ec;
    json::value value = json::parse(text, ec, {}, options);
    if (ec || !value.is_object()) return std::nullopt;
    return value;
}

std::optional<std::int64_t> integerOf(const json::value& value) {
    if (value.is_int64()) return value.get_int64();
    if (value.is_uint64() && value.get_uint64() <= static_cast<std::uint64_t>(INT64_MAX)) {
        return static_cast<std::int64_t>(value.get_uint64());
    }
    return std::nullopt;
}

std::optional<double> numberOf(const json::value& value) {
    if (value.is_double()) return value.get_double();
    if (value.is_int64()) return static_cast<double>(value.get_int64());
    if (value.is_uint64()) return static_cast<double>(value.get_uint64());
    return std::nullopt;
}

// Absent is fine; present must be a string.
bool optionalString(const json::object& object, std::string_view key,
                    std::optional<std::string>& into) {
    const auto* found = object.if_contains(key);
    if (!found) return true;
    if (!found->is_string()) return false;
    into = std::string(found->get_string());
    return true;
}

std::optional<std::vector<Uuid>> devicesOf(const json::value& value) {
    if (!value.is_array()) return std::nullopt;
    std::vector<Uuid> devices;
    for (const auto& element : value.get_array()) {
        if (!element.is_string()) return std::nullopt;
        auto device = Uuid::parse(element.get_string());
        if (!device) return std::nullopt;
        if (std::find(devices.begin(), devices.end(), *device) == devices.end()) {
            devices.push_back(*device);
        }
    }
    if (devices.empty()) return std::nullopt;
    return devices;
}

// The outbox keeps times in whole microseconds, which a double of seconds carries exactly for any
// date of this era, so a reloaded item equals the one that was written.
std::optional<Date> dateFromSeconds(double seconds) {
    const auto time = timeFromSecondsSince1970(seconds);
    if (!time) return std::nullopt;
    return std::chrono::round<std::chrono::microseconds>(*time);
}

bool isCanonicalId(std::string_view id) {
    const auto parsed = Uuid::parse(id);
    return parsed && parsed->uuidString() == id;
}

}  // namespace

std::string outboxItemFileName(std::string_view id) {
    return std::string(id) + ".json";
}

std::string outboxImageFileName(std::string_view id, ImageFormat format) {
    return std::string(id) + "." + std::string(rawValue(format));
}

std::string encodeOutboxItem(const Outbox::Item& item) {
    json::object object;
    object["id"] = item.id;
    object["seq"] = item.seq;
    object["createdAt"] = secondsSince1970(item.createdAt);
    if (item.text) object["text"] = *item.text;
    if (item.imageFormat) object["imageFormat"] = *item.imageFormat;
    if (item.imageFile) object["imageFile"] = *item.imageFile;
    json::array devices;
    for (const auto& device : item.pendingDevices) devices.emplace_back(device.uuidString());
    object["pendingDevices"] = std::move(devices);
    return json::serialize(object);
}

std::optional<Outbox::Item> decodeOutboxItem(std::string_view text) {
    const auto parsed = parseObject(text);
    if (!parsed) return std::nullopt;
    const auto& object = parsed->get_object();
    Outbox::Item item;

    const auto* id = object.if_contains("id");
    if (!id || !id->is_string() || !isCanonicalId(id->get_string())) return std::nullopt;
    item.id = std::string(id->get_string());

    const auto* seq = object.if_contains("seq");
    const auto seqValue = seq ? integerOf(*seq) : std::nullopt;
    if (!seqValue || *seqValue < 1) return std::nullopt;
    item.seq = *seqValue;

    const auto* createdAt = object.if_contains("createdAt");
    const auto seconds = createdAt ? numberOf(*createdAt) : std::nullopt;
    const auto created = seconds ? dateFromSeconds(*seconds) : std::nullopt;
    if (!created) return std::nullopt;
    item.createdAt = *created;

    if (!optionalString(object, "text", item.text) ||
        !optionalString(object, "imageFormat", item.imageFormat) ||
        !optionalString(object, "imageFile", item.imageFile)) {
        return std::nullopt;
    }
    const bool isImage = item.imageFormat || item.imageFile;
    if (item.text.has_value() == isImage) return std::nullopt;
    if (isImage) {
        // The picture's file is removed with the item, so its name must be the one the outbox
        // gives it: anything else could point outside the folder.
        const auto format = item.imageFormat ? imageFormatFromRaw(*item.imageFormat) : std::nullopt;
        if (!format || item.imageFile != outboxImageFileName(item.id, *format)) return std::nullopt;
    }

    const auto* devices = object.if_contains("pendingDevices");
    auto pendingDevices = devices ? devicesOf(*devices) : std::nullopt;
    if (!pendingDevices) return std::nullopt;
    item.pendingDevices = std::move(*pendingDevices);
    return item;
}

std::string encodeOutboxState(std::int64_t lastSeq) {
    json::object object;
    object["lastSeq"] = lastSeq;
    return json::serialize(object);
}

std::optional<std::int64_t> decodeOutboxState(std::string_view text) {
    const auto parsed = parseObject(text);
    if (!parsed) return std::nullopt;
    const auto* lastSeq = parsed->get_object().if_contains("lastSeq");
    const auto value = lastSeq ? integerOf(*lastSeq) : std::nullopt;
    if (!value || *value < 0) return std::nullopt;
    return value;
}

}  // namespace kestrune
