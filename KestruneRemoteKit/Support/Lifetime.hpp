#pragma once

#include <memory>
#include <utility>

namespace kestrune {

// The one way to say "continue later if I still exist". An owner keeps a `Lifetime` as its last
// member; `guard(step)` makes a callback that runs `step` while the owner exists and does nothing
// after. The check and the step run on the caller's thread, so the owner must be destroyed on the
// same queue that runs its guarded callbacks (the main queue for controllers): nothing can
// destroy it between the check and the step.
class Lifetime {
  public:
    Lifetime() = default;
    Lifetime(const Lifetime&) = delete;
    Lifetime& operator=(const Lifetime&) = delete;

    template <typename Step>
    auto guard(Step step) const {
        return [alive = std::weak_ptr<const char>(token_),
                step = std::move(step)](auto&&... arguments) mutable {
            if (alive.expired()) return;
            step(std::forward<decltype(arguments)>(arguments)...);
        };
    }

  private:
    std::shared_ptr<const char> token_ = std::make_shared<const char>('\0');
};

}  // namespace kestrune
