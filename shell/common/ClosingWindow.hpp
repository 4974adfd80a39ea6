#pragma once

#include <functional>

#include <QWidget>

class QCloseEvent;

namespace kestrune {

// A top-level window that tells its owner when the user closes it, so the owner can withdraw
// what the window was showing. Closing hides it; the owner decides when it is destroyed. GUI
// thread only; onClose runs there.
class ClosingWindow final : public QWidget {
  public:
    std::function<void()> onClose;

  protected:
    void closeEvent(QCloseEvent* event) override;
};

}  // namespace kestrune
