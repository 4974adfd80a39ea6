#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "KestruneRemoteKit/Support/MainQueue.hpp"
#include "KestruneRemoteKit/Support/Result.hpp"

namespace kestrune {

// Types text as synthetic key events carrying Unicode text, a few characters at a time, on its
// own serial queue. Bumping the generation cancels what is queued or being typed: typing stops
// before its next chunk and a queued key press is dropped.
class DirectTextInjector {
  public:
    enum class Failure { textTooLong, empty, cancelled };
    using Prepared = Result<std::string, Failure>;
    using Completion = std::function<void(Result<void, Failure>)>;
    using Ticket = std::int64_t;

    // Pause between chunks: receiving toolkits drop characters when events come faster.
    static constexpr std::chrono::milliseconds kInterval{10};
    // Chunk size in UTF-16 code units.
    static constexpr std::size_t kMaxChunkUTF16 = 20;
    // Longest text accepted, in user-perceived characters.
    static constexpr std::size_t kMaxCharacters = 4096;

    // `queue` is the injector's serial queue ("Kestrune.DirectTextInjector"); `post` types one
    // chunk and `pressKey` presses one key by its virtual key code, both on that queue.
    DirectTextInjector(MainQueue& queue, std::function<void(const std::string&)> post,
                       std::function<void(std::uint16_t)> pressKey);
    ~DirectTextInjector();
    DirectTextInjector(const DirectTextInjector&) = delete;
    DirectTextInjector& operator=(const DirectTextInjector&) = delete;

    static Prepared prepare(std::string_view text);
    // Makes the text one line: control characters and line breaks become single spaces (CR LF
    // counts once), other controls are dropped, and blanks at both ends are trimmed.
    static std::string sanitize(std::string_view text);
    // Splits at character boundaries into pieces of at most `maxUTF16` UTF-16 code units; a
    // longer single character forms a piece of its own.
    static std::vector<std::string> chunks(std::string_view text,
                                           std::size_t maxUTF16 = kMaxChunkUTF16);

    // Types a prepared text. Without a ticket the generation current now is used. The completion
    // runs on the injector's queue, once.
    void send(Prepared prepared, std::optional<Ticket> ticket, Completion completion);
    void press(std::uint16_t keyCode, std::optional<Ticket> ticket, Completion completion);

    Ticket generation() const;
    // Cancels everything queued or being typed under the current generation.
    void bumpGeneration();

    struct State;

  private:
    std::shared_ptr<State> state_;
};

}  // namespace kestrune
