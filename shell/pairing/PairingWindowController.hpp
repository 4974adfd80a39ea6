#pragma once

#include <functional>
#include <memory>
#include <string>

#include "Kestrune/phone/controller/ConnectionWindows.hpp"
#include "KestruneRemoteKit/Support/Observers.hpp"

class QLabel;
class QWidget;

namespace kestrune {

class ClosingWindow;

// The "Pair a Phone" window: a heading, what to do, the pairing link as a QR code and the
// address it points at. The phone connection controller decides what it shows and when the code
// is renewed; closing the window is reported so the code can be withdrawn. Closing hides the
// window; it is kept for the next showing. GUI thread only.
class PairingWindowController final : public PairingWindow {
  public:
    // The window's fixed size and the code's area, in device-independent pixels.
    static constexpr int kWidth = 340;
    static constexpr int kHeight = 420;
    static constexpr int kCodeSide = 260;
    // Pixels per module of the drawn code before it is fitted into the code area.
    static constexpr int kCodeScale = 10;

    PairingWindowController();
    ~PairingWindowController() override;

    void present(const std::string& address) override;
    void showLink(const std::string& link) override;
    void close() override;
    bool isVisible() const override;
    Subscription observeClose(std::function<void()> observer) override;

    QWidget* window() const;
    // The link whose code is on screen now; empty before the first one.
    const std::string& shownLink() const { return shownLink_; }

  private:
    std::unique_ptr<ClosingWindow> window_;
    QLabel* code_ = nullptr;
    QLabel* address_ = nullptr;
    std::string shownLink_;
    Observers<> closed_;
};

}  // namespace kestrune
