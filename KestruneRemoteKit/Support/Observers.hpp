#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "KestruneRemoteKit/Support/Subscription.hpp"

namespace kestrune {

// A list of callbacks that may add or remove observers, even themselves, while being notified.
// The list lives behind a shared pointer so a Subscription that outlives it does nothing.
template <typename... Args>
class Observers {
  public:
    using Callback = std::function<void(Args...)>;

    Subscription add(Callback callback) {
        const auto id = nextId_++;
        entries_->emplace(id, std::make_shared<Callback>(std::move(callback)));
        return Subscription([weak = std::weak_ptr<Entries>(entries_), id] {
            if (auto entries = weak.lock()) entries->erase(id);
        });
    }

    void notify(const Args&... args) const {
        // A snapshot, so changes to the list during notification are safe; an observer removed
        // by an earlier one in this round is skipped.
        const auto entries = entries_;
        std::vector<std::pair<std::uint64_t, std::shared_ptr<Callback>>> snapshot(entries->begin(),
                                                                                  entries->end());
        for (const auto& [id, callback] : snapshot) {
            if (entries->count(id)) (*callback)(args...);
        }
    }

  private:
    using Entries = std::map<std::uint64_t, std::shared_ptr<Callback>>;
    std::shared_ptr<Entries> entries_ = std::make_shared<Entries>();
    std::uint64_t nextId_ = 1;
};

}  // namespace kestrune
