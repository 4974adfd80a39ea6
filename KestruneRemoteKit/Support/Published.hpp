#pragma once

#include <functional>
#include <utility>

#include "KestruneRemoteKit/Support/Observers.hpp"

namespace kestrune {

// A value that others watch: subscribing yields the current value at once, then every new one.
// The owner keeps it as a member and hands out only a const reference, so only the owner sets it;
// observers run on the owner's queue, inside `set`.
template <typename T>
class Published {
  public:
    explicit Published(T initial) : value_(std::move(initial)) {}

    const T& value() const { return value_; }

    Subscription subscribe(std::function<void(const T&)> observer) const {
        observer(value_);
        return observers_.add(std::move(observer));
    }

    void set(T newValue) {
        value_ = std::move(newValue);
        // A copy, so an observer that assigns again does not change what later ones see.
        const T current = value_;
        observers_.notify(current);
    }

  private:
    T value_;
    mutable Observers<T> observers_;
};

}  // namespace kestrune
