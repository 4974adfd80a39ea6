#include "Kestrune/paste/TextInjector.hpp"

namespace kestrune {

struct TextInjector::State {
    MainQueue& main;
    Pasteboard& pasteboard;
    std::function<void()> pressPasteShortcut;
};

namespace {

// One paste in flight: what it must put back afterwards.
struct Paste {
    std::shared_ptr<TextInjector::State> state;
    std::string text;
    std::function<void()> done;
    PasteboardSnapshot saved;
};

void finish(const std::shared_ptr<Paste>& paste) {
    auto& state = *paste->state;
    state.pasteboard.restore(std::move(paste->saved), [paste] {
        if (paste->done) paste->done();
    });
}

void writeAndPress(const std::shared_ptr<Paste>& paste) {
    auto& state = *paste->state;
    state.pasteboard.writeText(std::move(paste->text), [paste] {
        auto& state = *paste->state;
        if (state.pressPasteShortcut) state.pressPasteShortcut();
        state.main.postAfter(TextInjector::kPasteWait, [paste] { finish(paste); });
    });
}

}  // namespace

TextInjector::TextInjector(MainQueue& main, Pasteboard& pasteboard,
                           std::function<void()> pressPasteShortcut)
    : state_(std::make_shared<State>(State{main, pasteboard, std::move(pressPasteShortcut)})) {}

TextInjector::~TextInjector() = default;

void TextInjector::inject(std::string text, std::function<void()> done) {
    auto paste = std::make_shared<Paste>();
    paste->state = state_;
    paste->text = std::move(text);
    paste->done = std::move(done);
    state_->pasteboard.takeSnapshot([paste](PasteboardSnapshot snapshot) {
        paste->saved = std::move(snapshot);
        writeAndPress(paste);
    });
}

}  // namespace kestrune
