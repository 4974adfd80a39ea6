#pragma once

#include <optional>
#include <utility>
#include <variant>

namespace kestrune {

// A value or the failure that prevented it: the one way our own fallible calls report. Decoders
// return this instead of throwing, so bad input from the network is an ordinary outcome.
template <typename T, typename E>
class Result {
  public:
    Result(T value) : storage_(std::in_place_index<0>, std::move(value)) {}
    Result(E error) : storage_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return storage_.index() == 0; }
    explicit operator bool() const { return ok(); }

    const T& value() const& { return std::get<0>(storage_); }
    T& value() & { return std::get<0>(storage_); }
    T&& value() && { return std::get<0>(std::move(storage_)); }
    const E& error() const { return std::get<1>(storage_); }

    const T* operator->() const { return &value(); }
    const T& operator*() const& { return value(); }

    bool operator==(const Result&) const = default;

  private:
    std::variant<T, E> storage_;
};

// Success with nothing to hand back, or the failure. A default-constructed one is a success, so
// `return {};` reads as "done".
template <typename E>
class Result<void, E> {
  public:
    Result() = default;
    Result(E error) : error_(std::move(error)) {}

    bool ok() const { return !error_.has_value(); }
    explicit operator bool() const { return ok(); }

    const E& error() const { return *error_; }

    bool operator==(const Result&) const = default;

  private:
    std::optional<E> error_;
};

}  // namespace kestrune
