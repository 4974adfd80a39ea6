#pragma once

#include <cstddef>
#include <cstdint>

// The sizes both ends of the phone link agree on. The computer and the phone are built from this
// one header, so a limit cannot drift between the side that sends and the side that checks.

namespace kestrune {

// Largest picture either way (30 MiB). The receiving end holds a whole picture in memory before
// handing it on, so this bounds what one connection can claim; an announced picture beyond it is
// refused before any of its bytes arrive.
inline constexpr std::int64_t kMaxImageBytes = 31'457'280;

// Picture bytes per chunk message, in both directions. Base64 turns 64 KiB into about 87 KiB,
// which with the JSON around it stays well under the computer's message limit below, while the
// chunks stay big enough that per-message costs do not dominate a 30 MiB transfer.
inline constexpr std::size_t kImageChunkBytes = 65'536;

// Largest message the computer reads (256 KiB). Everything a phone sends is a command, a small
// control message or one picture chunk, so anything larger is hostile or broken, and a small
// bound keeps an unauthenticated peer from making the computer buffer much.
inline constexpr std::size_t kMaxComputerMessageBytes = 262'144;

// Largest message a phone reads (16 MiB). Replies and pushed chunks are far smaller, but a pushed
// text may reach `kMaxPushedTextBytes` and grow under JSON escaping; the phone must not refuse
// what a computer may legitimately send.
inline constexpr std::size_t kMaxPhoneMessageBytes = 16 * 1024 * 1024;

// Largest text pushed to a phone (4 MiB of UTF-8): even if every byte were escaped, the message
// stays inside `kMaxPhoneMessageBytes`.
inline constexpr std::int64_t kMaxPushedTextBytes = 4'194'304;

}  // namespace kestrune
