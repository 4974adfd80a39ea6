#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Kestrune/phone/images/ReceivedImageDelivery.hpp"
#include "KestruneRemoteKit/Support/SerialQueue.hpp"
#include "platform/linux/clipboard/X11Clipboard.hpp"

namespace kestrune::testing {

// The targets another application sees on the clipboard, as xclip lists them.
std::vector<std::string> clipboardTargets();
// The bytes another application gets for one target.
std::string clipboardData(const std::string& target);

// Has xclip own the clipboard with `bytes` under `target` (xclip stays in the background until
// another client takes the clipboard). False when xclip did not come up.
bool offerWithXclip(const std::string& target, const std::string& bytes);

// The application's side: a main queue and the clipboard layer posting to it, with blocking
// helpers for the test thread.
class ClipboardSide {
  public:
    ClipboardSide();
    ~ClipboardSide();

    PasteboardSnapshot snapshot();
    void restore(PasteboardSnapshot contents);
    // The default clipboard write of a received picture, run on the main queue.
    std::optional<RemoteError> commit(const ClipboardImage::Prepared& picture);

  private:
    SerialQueue main_{"test-main"};
    std::unique_ptr<X11Clipboard> clipboard_;
};

}  // namespace kestrune::testing
