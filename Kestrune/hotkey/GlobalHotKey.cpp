#include "Kestrune/hotkey/GlobalHotKey.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <limits>
#include <vector>

#include "Kestrune/dictation/keys/KeyCatalog.hpp"
#include "KestruneRemoteKit/L10n/L10n.hpp"

namespace kestrune {

namespace {

constexpr std::uint16_t kEscapeKeyCode = 53;
constexpr std::uint16_t kZKeyCode = 6;
constexpr std::array<std::uint16_t, 12> kReservedWithCommandOnly{8,  9, 7,  6,  0,  12,
                                                                 13, 4, 46, 48, 49, 43};

template <typename Number>
std::optional<Number> parseUnsignedDecimal(std::string_view text) {
    if (text.empty()) return std::nullopt;
    Number value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::vector<std::string_view> splitDroppingEmpty(std::string_view text, char separator) {
    std::vector<std::string_view> pieces;
    while (!text.empty()) {
        auto at = text.find(separator);
        auto piece = text.substr(0, at);
        if (!piece.empty()) pieces.push_back(piece);
        if (at == std::string_view::npos) break;
        text.remove_prefix(at + 1);
    }
    return pieces;
}

std::optional<GlobalHotKey::Refusal> refusalFor(std::uint16_t keyCode, std::uint64_t modifiers) {
    if ((modifiers & (GlobalHotKey::command | GlobalHotKey::control)) == 0) {
        return GlobalHotKey::Refusal::needsCommandOrControl;
    }
    auto masked = modifiers & GlobalHotKey::modifierMask;
    if (masked == (GlobalHotKey::shift | GlobalHotKey::command) && keyCode == kZKeyCode) {
        return GlobalHotKey::Refusal::commonShortcut;
    }
    if (masked == GlobalHotKey::command && GlobalHotKey::isReservedWithCommandOnly(keyCode)) {
        return GlobalHotKey::Refusal::commonShortcut;
    }
    return std::nullopt;
}

}  // namespace

bool GlobalHotKey::isReservedWithCommandOnly(std::uint16_t keyCode) {
    return std::find(kReservedWithCommandOnly.begin(), kReservedWithCommandOnly.end(), keyCode) !=
           kReservedWithCommandOnly.end();
}

std::string_view GlobalHotKey::englishMessage(Refusal refusal) {
    switch (refusal) {
        case Refusal::needsCommandOrControl:
            // Command and Control play the roles of Ctrl and Super on a PC keyboard.
            return "Use at least one of Ctrl or Super.";
        case Refusal::commonShortcut:
            return "This is a common shortcut — other apps couldn’t use it anymore.";
    }
    return {};
}

std::string GlobalHotKey::message(Refusal refusal) {
    return localized(englishMessage(refusal));
}

GlobalHotKey::Recording GlobalHotKey::validate(std::uint16_t keyCode, std::uint64_t modifiers) {
    if (keyCode == kEscapeKeyCode) return Cancelled{};
    if (auto refusal = refusalFor(keyCode, modifiers)) return *refusal;
    return GlobalHotKey(keyCode, modifiers);
}

std::optional<GlobalHotKey> GlobalHotKey::fromPersistedValue(std::string_view text) {
    auto pieces = splitDroppingEmpty(text, ':');
    if (pieces.size() != 3 || pieces[0] != "hotkey") return std::nullopt;
    auto keyCode = parseUnsignedDecimal<std::uint16_t>(pieces[1]);
    auto flags = parseUnsignedDecimal<std::uint64_t>(pieces[2]);
    if (!keyCode || !flags) return std::nullopt;
    if (refusalFor(*keyCode, *flags)) return std::nullopt;
    return GlobalHotKey(*keyCode, *flags);
}

std::string GlobalHotKey::persistedValue() const {
    return "hotkey:" + std::to_string(keyCode) + ":" + std::to_string(modifiers);
}

std::string GlobalHotKey::displayName() const {
    std::string name;
    const std::pair<std::uint64_t, const char*> order[] = {
        {command, "Ctrl+"}, {option, "Alt+"}, {shift, "Shift+"}, {control, "Super+"}};
    for (const auto& [bit, label] : order) {
        if (modifiers & bit) name += label;
    }
    return name + KeyCatalog::name(keyCode);
}

GlobalHotKeyCenter::GlobalHotKeyCenter(std::function<void()> action, Registrar registrar,
                                       SystemHotKeyService* system)
    : action_(std::make_shared<std::function<void()>>(std::move(action))),
      registrar_(std::move(registrar)),
      system_(system) {}

GlobalHotKeyCenter::~GlobalHotKeyCenter() {
    if (isRegistered_ && !registrar_ && system_ != nullptr) system_->unregisterHotKey();
}

bool GlobalHotKeyCenter::setHotKey(std::optional<GlobalHotKey> hotKey) {
    wanted_ = std::move(hotKey);
    if (isSuspended_) return true;
    return registerNow(wanted_);
}

void GlobalHotKeyCenter::suspend() {
    isSuspended_ = true;
    registerNow(std::nullopt);
}

bool GlobalHotKeyCenter::resume() {
    if (!isSuspended_) return true;
    isSuspended_ = false;
    return registerNow(wanted_);
}

bool GlobalHotKeyCenter::registerNow(const std::optional<GlobalHotKey>& hotKey) {
    if (registrar_) {
        isRegistered_ = registrar_(hotKey) && hotKey.has_value();
        return isRegistered_ || !hotKey;
    }
    if (system_ == nullptr) {
        isRegistered_ = false;
        return !hotKey;
    }
    if (isRegistered_) system_->unregisterHotKey();
    isRegistered_ = false;
    if (!hotKey) return true;
    std::weak_ptr<std::function<void()>> action = action_;
    isRegistered_ = system_->registerHotKey(*hotKey, [action] {
        if (auto alive = action.lock(); alive && *alive) (*alive)();
    });
    return isRegistered_;
}

}  // namespace kestrune
