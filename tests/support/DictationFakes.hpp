#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Kestrune/dictation/coordinator/RecordingPanel.hpp"
#include "Kestrune/dictation/keys/KeyCatalog.hpp"
#include "Kestrune/dictation/keys/TriggerKeySource.hpp"
#include "Kestrune/http/HttpClient.hpp"
#include "tests/support/PasteboardFakes.hpp"

namespace kestrune::testing {

// Stand-ins for the platform edges of dictation: the panel, the key source, the clipboard and the
// HTTP transport. Single-threaded: everything runs on the test's (manual) main queue.

// What the coordinator asked the panel, in order; levels apart, since they come in streams.
class RecordingPanelLog final : public RecordingPanel {
  public:
    void show(const std::string& text) override { calls.push_back("show " + text); }
    void showRefining() override { calls.push_back("refining"); }
    void hide() override { calls.push_back("hide"); }
    void updateLevel(double level) override { levels.push_back(level); }

    std::string last() const { return calls.empty() ? std::string() : calls.back(); }

    std::vector<std::string> calls;
    std::vector<double> levels;
};

// A key source the test presses and releases. `startable` decides what start() answers (a
// display without the input extensions, a key X cannot report).
class FakeTriggerKeySource final : public TriggerKeySource {
  public:
    void setEvents(Events newEvents) override { events = std::move(newEvents); }
    void setTriggerKey(TriggerKey newKey) override { key = newKey; }
    TriggerKey triggerKey() const override { return key; }
    Result<void, StartFailure> start() override {
        ++starts;
        running = running || startable;
        if (running) return {};
        return unwatchable ? StartFailure::keyUnwatchable : StartFailure::sessionUnavailable;
    }
    void stop() override { running = false; }
    bool isRunning() const override { return running; }
    KeyboardState keyboardState() override {
        return {[this](std::uint16_t code) { return keyDown && code == key.keyCode(); },
                [this]() -> std::uint64_t {
                    const auto masks = KeyCatalog::modifierFlagMasks();
                    const auto mask = masks.find(key.keyCode());
                    return keyDown && mask != masks.end() ? mask->second : 0;
                }};
    }

    // What the user's hand does: the events as the platform reports them, and the key's state.
    void press() {
        keyDown = true;
        if (events.pressed) events.pressed();
    }
    void release() {
        keyDown = false;
        if (events.released) events.released();
    }
    void otherInput() {
        if (events.otherInput) events.otherInput();
    }

    Events events;
    TriggerKey key = TriggerKey::modifier(61);
    bool startable = true;
    // What a failed start says: the key itself cannot be watched, rather than the session.
    bool unwatchable = false;
    bool running = false;
    bool keyDown = false;
    int starts = 0;
};

// An HTTP transport whose answers the test gives, one pending exchange at a time.
class ScriptedHttpClient final : public HttpClient {
  public:
    void send(HttpRequest request, std::function<void(HttpOutcome)> completion) override {
        requests.push_back(std::move(request));
        pending.push_back(std::move(completion));
    }
    // Answers the oldest exchange still waiting; false when none waits.
    bool answer(HttpOutcome outcome) {
        if (pending.empty()) return false;
        auto completion = std::move(pending.front());
        pending.erase(pending.begin());
        completion(std::move(outcome));
        return true;
    }

    std::vector<HttpRequest> requests;
    std::vector<std::function<void(HttpOutcome)>> pending;
};

}  // namespace kestrune::testing
