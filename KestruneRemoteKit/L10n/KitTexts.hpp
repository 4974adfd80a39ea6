#pragma once

#include <string_view>

namespace kestrune {

// The kit's texts are keyed by their Chinese wording (look them up with kitLocalized). The phone's
// hint titles and link failures use these keys; the tables give their English translations.
inline constexpr std::string_view kitTextComputerNotResponding = "电脑没有回应";
inline constexpr std::string_view kitTextConnectionTimedOut = "连接超时";
inline constexpr std::string_view kitTextInvalidQRAddress = "二维码里的地址无效";
inline constexpr std::string_view kitTextStoppedBeforeStartup = "启动完成前已停止";

}  // namespace kestrune
