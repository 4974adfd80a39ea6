#pragma once

// Internal to the protocol library: the "type" string of each case.

#include <string_view>

#include "KestruneRemoteKit/Protocol/RemoteMessage.hpp"

namespace kestrune::detail {

template <typename Case>
inline constexpr std::string_view wireType = Case::no_wire_type_defined;

using M = RemoteMessage;
template <>
inline constexpr std::string_view wireType<M::Text> = "text";
template <>
inline constexpr std::string_view wireType<M::Key> = "key";
template <>
inline constexpr std::string_view wireType<M::Hotkey> = "hotkey";
template <>
inline constexpr std::string_view wireType<M::Ack> = "ack";
template <>
inline constexpr std::string_view wireType<M::Pair> = "pair";
template <>
inline constexpr std::string_view wireType<M::Paired> = "paired";
template <>
inline constexpr std::string_view wireType<M::Hello> = "hello";
template <>
inline constexpr std::string_view wireType<M::ImageBegin> = "image_begin";
template <>
inline constexpr std::string_view wireType<M::ImageChunk> = "image_chunk";
template <>
inline constexpr std::string_view wireType<M::ImageEnd> = "image_end";
template <>
inline constexpr std::string_view wireType<M::Secret> = "secret";
template <>
inline constexpr std::string_view wireType<M::Subscribe> = "subscribe";
template <>
inline constexpr std::string_view wireType<M::Heartbeat> = "heartbeat";
template <>
inline constexpr std::string_view wireType<M::HeartbeatAck> = "heartbeat_ack";
template <>
inline constexpr std::string_view wireType<M::PushText> = "push_text";
template <>
inline constexpr std::string_view wireType<M::PushSecret> = "push_secret";
template <>
inline constexpr std::string_view wireType<M::PushImageBegin> = "push_image_begin";
template <>
inline constexpr std::string_view wireType<M::PushImageChunk> = "push_image_chunk";
template <>
inline constexpr std::string_view wireType<M::PushImageEnd> = "push_image_end";
template <>
inline constexpr std::string_view wireType<M::PushAck> = "push_ack";

}  // namespace kestrune::detail
