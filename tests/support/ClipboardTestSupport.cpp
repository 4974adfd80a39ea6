#include "tests/support/ClipboardTestSupport.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <sstream>

#include "tests/support/CommandOutput.hpp"
#include "tests/support/ResultTesting.hpp"
#include "tests/support/WaitUntil.hpp"

namespace kestrune::testing {

std::vector<std::string> clipboardTargets() {
    std::vector<std::string> targets;
    std::istringstream names(commandOutput("xclip -selection clipboard -o -t TARGETS 2>/dev/null"));
    std::string target;
    while (std::getline(names, target)) {
        if (!target.empty()) targets.push_back(target);
    }
    return targets;
}

std::string clipboardData(const std::string& target) {
    return commandOutput("xclip -selection clipboard -o -t '" + target + "' 2>/dev/null");
}

bool offerWithXclip(const std::string& target, const std::string& bytes) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string path = std::string(runtime != nullptr ? runtime : "/tmp") +
                             "/murrelo-offer-" + std::to_string(getpid()) + ".bin";
    std::ofstream(path, std::ios::binary) << bytes;
    const std::string command =
        "xclip -selection clipboard -t '" + target + "' -i '" + path + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) return false;
    // xclip takes the clipboard from its background child, a moment after it returns.
    const bool offered = waitUntil([&] {
        const auto targets = clipboardTargets();
        return std::find(targets.begin(), targets.end(), target) != targets.end() &&
               clipboardData(target) == bytes;
    });
    std::remove(path.c_str());
    return offered;
}

ClipboardSide::ClipboardSide() : clipboard_(std::make_unique<X11Clipboard>(main_)) {}

ClipboardSide::~ClipboardSide() {
    clipboard_.reset();
}

PasteboardSnapshot ClipboardSide::snapshot() {
    std::promise<PasteboardSnapshot> result;
    main_.post([&] {
        clipboard_->takeSnapshot([&](PasteboardSnapshot s) { result.set_value(std::move(s)); });
    });
    return result.get_future().get();
}

void ClipboardSide::restore(PasteboardSnapshot contents) {
    std::promise<void> done;
    main_.post([&] { clipboard_->restore(std::move(contents), [&] { done.set_value(); }); });
    done.get_future().wait();
}

std::optional<RemoteError> ClipboardSide::commit(const ClipboardImage::Prepared& picture) {
    std::promise<std::optional<RemoteError>> result;
    const auto commitImage = clipboardImageCommit(*clipboard_);
    main_.post([&] {
        commitImage(picture, [&](Result<void, RemoteError> error) {
            result.set_value(testing::failureOf(error));
        });
    });
    return result.get_future().get();
}

}  // namespace kestrune::testing
