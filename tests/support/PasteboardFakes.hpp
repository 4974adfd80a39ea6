#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Kestrune/paste/Pasteboard.hpp"
#include "KestruneRemoteKit/Support/MainQueue.hpp"

namespace kestrune::testing {

// A clipboard that answers on the main queue and logs what was done to it. A receiver reads
// the written text `readsAfter` it was awaited, or never.
class RecordingPasteboard final : public Pasteboard {
  public:
    static constexpr std::chrono::milliseconds kReadDelay{40};

    explicit RecordingPasteboard(MainQueue& main) : main_(main) {}
    void takeSnapshot(std::function<void(PasteboardSnapshot)> done) override {
        log.push_back("snapshot");
        main_.post([done, saved = contents] { done(saved); });
    }
    void writeText(std::string text, std::function<void()> done) override {
        log.push_back("write " + text);
        contents = {{{{"UTF8_STRING", "UTF8_STRING", 8, {text.begin(), text.end()}}}}};
        main_.post(done);
    }
    void restore(PasteboardSnapshot snapshot, std::function<void()> done) override {
        log.push_back("restore");
        contents = std::move(snapshot);
        main_.post(done);
    }

    void whenTaken(std::chrono::milliseconds bound, std::function<void(bool)> done) override {
        log.push_back("await");
        struct Wait {
            std::function<void(bool)> done;
            TaskId bound = 0;
        };
        auto wait = std::make_shared<Wait>(Wait{std::move(done)});
        wait->bound = main_.postAfter(bound, [wait] {
            if (auto done = std::exchange(wait->done, nullptr)) done(false);
        });
        if (!readsAfter) return;
        main_.postAfter(*readsAfter, [this, wait] {
            log.push_back("read");
            main_.cancel(wait->bound);
            if (auto done = std::exchange(wait->done, nullptr)) done(true);
        });
    }

    PasteboardSnapshot contents;
    std::vector<std::string> log;
    std::optional<std::chrono::milliseconds> readsAfter = kReadDelay;

  private:
    MainQueue& main_;
};

}  // namespace kestrune::testing
