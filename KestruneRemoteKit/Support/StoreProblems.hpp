#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "KestruneRemoteKit/Support/MainQueue.hpp"
#include "KestruneRemoteKit/Support/StoredFile.hpp"
#include "KestruneRemoteKit/Support/Subscription.hpp"

namespace kestrune {

// The stored-file problems of this run, gathered for the user. Stores report from any thread,
// often before anything that could show a notice exists; the problems are kept on the main queue
// and each observer hears of every one, those reported before it subscribed included.
class StoreProblems {
  public:
    explicit StoreProblems(MainQueue& main);
    ~StoreProblems();
    StoreProblems(const StoreProblems&) = delete;
    StoreProblems& operator=(const StoreProblems&) = delete;

    // What the stores are given; it may outlive this object (later reports are then dropped).
    StoreProblemReport reporter() const;

    // Main queue only.
    Subscription observe(std::function<void(const StoreProblem&)> observer);
    const std::vector<StoreProblem>& reported() const;

  private:
    struct State;
    MainQueue& main_;
    std::shared_ptr<State> state_;
};

}  // namespace kestrune
