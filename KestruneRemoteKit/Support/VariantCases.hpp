#pragma once

#include <variant>

namespace kestrune {

// `is<Case>()` and `as<Case>()` for a type that wraps a `std::variant` in a member named `value`
// (messages, session states, effects): the wrapper keeps its own converting constructor and
// inherits the queries from here, so a case is tested and read the same way everywhere.
template <typename Self>
class VariantCases {
  public:
    template <typename Case>
    bool is() const {
        return std::holds_alternative<Case>(self().value);
    }
    template <typename Case>
    const Case* as() const {
        return std::get_if<Case>(&self().value);
    }
    template <typename Case>
    Case* as() {
        return std::get_if<Case>(&self().value);
    }

    bool operator==(const VariantCases&) const = default;

  private:
    const Self& self() const { return static_cast<const Self&>(*this); }
    Self& self() { return static_cast<Self&>(*this); }
};

}  // namespace kestrune
