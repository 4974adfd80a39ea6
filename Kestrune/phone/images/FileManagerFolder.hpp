#pragma once

#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "KestruneRemoteKit/Support/MainQueue.hpp"

namespace kestrune {

class SerialQueue;

// Which folder the user's file manager shows in its front window, asked over D-Bus.
namespace FileManagerFolder {

// The file manager gets this long to answer one question on the bus.
inline constexpr std::chrono::seconds kCallTimeout{5};
// A picture waits at most this long for the answer before it goes to the fallback folder.
inline constexpr std::chrono::seconds kAnswerWait{2};

struct Answer {
    enum class Kind { folder, none, denied, timedOut };
    Kind kind = Kind::none;
    std::filesystem::path folder;  // for `folder`

    static Answer makeFolder(std::filesystem::path path) { return {Kind::folder, std::move(path)}; }
    static Answer none() { return {Kind::none, {}}; }
    static Answer denied() { return {Kind::denied, {}}; }
    static Answer timedOut() { return {Kind::timedOut, {}}; }
    bool operator==(const Answer&) const = default;
};

// A file manager's location text ("file:///home/me/Desktop") as a local folder; none for empty
// text or locations that are not local files (trash:///, smb://…).
std::optional<std::filesystem::path> parse(std::string_view output);

// What a question's outcome means: the bus error (if any) or the location text.
// Refusal by a bus policy means denied; a call that ran out of time means timedOut.
Answer classify(std::optional<std::string> output, std::optional<std::string> errorName);

// Runs the blocking question on its own serial queue, one at a time: while a question is still
// unanswered, later ones answer timedOut at once instead of queueing behind a hung file manager.
class SerialAsker {
  public:
    using Execute = std::function<Answer()>;

    explicit SerialAsker(Execute execute);
    ~SerialAsker();

    // Waits at most `timeout` for the answer. Thread-safe; blocks the calling thread.
    Answer ask(std::chrono::milliseconds timeout);

  private:
    struct Shared {
        std::mutex lock;
        std::condition_variable answered;
        bool inFlight = false;
        std::uint64_t question = 0;  // distinguishes a late answer from the current one
        std::optional<Answer> answer;
    };
    Execute execute_;
    std::shared_ptr<Shared> shared_;
    std::unique_ptr<SerialQueue> queue_;
};

}  // namespace FileManagerFolder

}  // namespace kestrune
