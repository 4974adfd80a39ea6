#include "platform/linux/x11/X11DirectTyping.hpp"

#include "platform/linux/x11/X11Typist.hpp"

namespace kestrune::x11 {

DirectTyping::DirectTyping(MainQueue& injectorQueue)
    : queue_(injectorQueue), self_(std::make_shared<DirectTyping*>(this)) {}

// The queue has stopped by now (see the header), so a pending restore can no longer run; the
// keymap goes back when the typist closes.
DirectTyping::~DirectTyping() {
    *self_ = nullptr;
}

Typist* DirectTyping::typist() {
    // A server that went away may come back (a restarted session): open a new connection then.
    if (typist_ && typist_->isBroken()) typist_.reset();
    // One attempt per run: without a display every chunk would log the same failure again.
    if (!typist_ && !openFailed_) {
        typist_ = Typist::open();
        openFailed_ = !typist_;
    }
    return typist_.get();
}

void DirectTyping::post(const std::string& chunk) {
    if (auto* t = typist()) {
        t->typeText(chunk);
        if (t->hasBorrowedKeycodes()) scheduleRestore();
    }
}

void DirectTyping::pressKey(std::uint16_t virtualKeyCode) {
    if (auto* t = typist()) t->pressKey(virtualKeyCode);
}

void DirectTyping::scheduleRestore() {
    if (restoreTask_ != 0) queue_.cancel(restoreTask_);
    std::weak_ptr<DirectTyping*> weak = self_;
    restoreTask_ = queue_.postAfter(restoreAfterIdle, [weak] {
        auto self = weak.lock();
        if (!self || *self == nullptr) return;
        (*self)->restoreTask_ = 0;
        if ((*self)->typist_) (*self)->typist_->restoreKeymap();
    });
}

}  // namespace kestrune::x11
