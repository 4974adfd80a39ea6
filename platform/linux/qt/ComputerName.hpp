#pragma once

#include <memory>
#include <optional>
#include <string>

namespace kestrune {

// The computer's name as the user set it: the pretty host name that systemd-hostnamed keeps,
// else the static host name (gethostname). The system bus is asked once, on a thread of its own,
// when this is made, so that the GUI thread never waits on it; until the answer has come (and
// when none comes) the static host name stands in.
class ComputerName {
  public:
    ComputerName();
    // Waits for the question, which is bounded, to end.
    ~ComputerName();
    ComputerName(const ComputerName&) = delete;
    ComputerName& operator=(const ComputerName&) = delete;

    // Any thread.
    std::optional<std::string> current() const;

    struct Question;

  private:
    std::unique_ptr<Question> question_;
};

}  // namespace kestrune
