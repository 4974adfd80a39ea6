#include "Kestrune/paste/TextInjector.hpp"

namespace kestrune {

struct TextInjector::State {
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
        // Asked before the shortcut, so that no read the shortcut causes can be missed.
        state.pasteboard.whenTaken(TextInjector::kTakeBound, [paste](bool) { finish(paste); });
        if (state.pressPasteShortcut) state.pressPasteShortcut();
    });
}

}  // namespace

TextInjector::TextInjector(Pasteboard& pasteboard, std::function<void()> pressPasteShortcut)
    : state_(std::make_shared<State>(State{pasteboard, std::move(pressPasteShortcut)})) {}

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
