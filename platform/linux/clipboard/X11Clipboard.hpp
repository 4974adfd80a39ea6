#pragma once

#include <memory>

#include "Kestrune/paste/Pasteboard.hpp"
#include "KestruneRemoteKit/Support/MainQueue.hpp"

namespace kestrune {

// The CLIPBOARD selection of the X display, served by a selection owner of our own on a private
// connection and thread. Reading saves every target the current owner offers; writing and
// restoring make us the owner, and we answer requests (large data incrementally) until another
// client takes the clipboard. Because the owner runs on its own thread, requests are answered
// while the main thread is busy, and a snapshot never waits on the main thread (which could be
// the current owner through the toolkit's own clipboard).
class X11Clipboard final : public Pasteboard {
  public:
    // Completions are posted to `main`. Without a display every operation completes at once:
    // snapshots are empty and writes do nothing (the reason is logged).
    explicit X11Clipboard(MainQueue& main);
    ~X11Clipboard() override;
    X11Clipboard(const X11Clipboard&) = delete;
    X11Clipboard& operator=(const X11Clipboard&) = delete;

    void takeSnapshot(std::function<void(PasteboardSnapshot)> done) override;
    void writeText(std::string text, std::function<void()> done) override;
    void restore(PasteboardSnapshot snapshot, std::function<void()> done) override;
    // Taken: the application with the keyboard focus got a text target of the written text in
    // full from us (the last piece of an incremental transfer included).
    void whenTaken(std::chrono::milliseconds bound, std::function<void(bool taken)> done) override;

    struct Owner;

  private:
    MainQueue& main_;
    std::unique_ptr<Owner> owner_;
};

}  // namespace kestrune
