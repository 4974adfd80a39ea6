#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "Kestrune/paste/Pasteboard.hpp"
#include "KestruneRemoteKit/Support/MainQueue.hpp"

namespace kestrune::testing {

// A clipboard that answers on the main queue and logs what was done to it.
class RecordingPasteboard final : public Pasteboard {
  public:
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

    PasteboardSnapshot contents;
    std::vector<std::string> log;

  private:
    MainQueue& main_;
};

}  // namespace kestrune::testing
