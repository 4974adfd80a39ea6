#include "Kestrune/tray/StatusFeedback.hpp"

namespace kestrune::tray {

StatusFeedback::StatusFeedback(Dependencies dependencies) : deps_(std::move(dependencies)) {}

StatusFeedback::~StatusFeedback() {
    if (pending_ != 0) deps_.main.cancel(pending_);
}

void StatusFeedback::flash(const std::string& text) {
    if (pending_ != 0) deps_.main.cancel(pending_);
    deps_.show(text);
    // The task is cancelled with its owner, so capturing `this` cannot outlive it.
    pending_ = deps_.main.postAfter(kShowTime, [this] {
        pending_ = 0;
        deps_.clear();
    });
}

}  // namespace kestrune::tray
