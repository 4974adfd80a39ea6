#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class QObject;

namespace kestrune {

// One desktop notification at a time over org.freedesktop.Notifications on the session bus: each
// new text replaces the one on screen (the server's id of the previous one is passed along) and
// expires after the time given. Calls never block the event loop; a text shown while the previous
// call is still unanswered waits for that answer, so it replaces rather than piles up.
// GUI thread only; answers arrive on the Qt event loop.
class DesktopNotifier {
  public:
    // A notification server answers in milliseconds; a hung one must not keep texts queued long.
    static constexpr std::chrono::milliseconds kCallTimeout{2000};

    struct Options {
        std::string appName;
        std::string iconName;
        // Runs once per failed call (no server on the bus, an error answer) with the text that
        // could not be shown, so the caller can show it another way.
        std::function<void(const std::string& text)> unavailable;
    };

    explicit DesktopNotifier(Options options);
    ~DesktopNotifier();
    DesktopNotifier(const DesktopNotifier&) = delete;
    DesktopNotifier& operator=(const DesktopNotifier&) = delete;

    void show(const std::string& text, std::chrono::milliseconds expireAfter);
    // Takes the current notification off the screen, if any.
    void close();

  private:
    struct Pending {
        std::string text;
        std::chrono::milliseconds expireAfter;
    };
    void send(const Pending& pending);
    void closeNow();

    Options options_;
    std::unique_ptr<QObject> context_;
    std::uint32_t currentId_ = 0;
    bool inFlight_ = false;
    std::optional<Pending> queued_;
    bool closeQueued_ = false;
};

}  // namespace kestrune
