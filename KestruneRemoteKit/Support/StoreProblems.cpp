#include "KestruneRemoteKit/Support/StoreProblems.hpp"

#include "KestruneRemoteKit/Support/Observers.hpp"

namespace kestrune {

struct StoreProblems::State {
    std::vector<StoreProblem> reported;
    Observers<StoreProblem> observers;
};

StoreProblems::StoreProblems(MainQueue& main) : main_(main), state_(std::make_shared<State>()) {}

StoreProblems::~StoreProblems() = default;

StoreProblemReport StoreProblems::reporter() const {
    return [&main = main_, weak = std::weak_ptr<State>(state_)](const StoreProblem& problem) {
        main.post([weak, problem] {
            const auto state = weak.lock();
            if (!state) return;
            state->reported.push_back(problem);
            state->observers.notify(problem);
        });
    };
}

Subscription StoreProblems::observe(std::function<void(const StoreProblem&)> observer) {
    for (const auto& problem : state_->reported) observer(problem);
    return state_->observers.add(std::move(observer));
}

const std::vector<StoreProblem>& StoreProblems::reported() const {
    return state_->reported;
}

}  // namespace kestrune
