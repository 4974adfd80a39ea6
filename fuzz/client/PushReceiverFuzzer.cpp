// Feeds the subscription's reassembly whatever a hostile computer could send: the input is split
// into frames at newlines, each decoded as a message and handed to a PushReceiver. Whatever the
// order, a picture being received never holds more than it announced, nothing above the size
// limit is accepted, and a delivered picture has exactly its announced size.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "KestruneRemoteKit/Client/Kit/ComputerPush.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kestrune;
    std::string_view input(reinterpret_cast<const char*>(data), size);
    PushReceiver receiver;
    std::int64_t announced = -1;
    while (!input.empty()) {
        const std::size_t end = input.find('\n');
        const std::string_view frame = input.substr(0, end);
        input = end == std::string_view::npos ? std::string_view() : input.substr(end + 1);

        auto message = RemoteMessage::decode(frame);
        if (!message) continue;
        const auto* begin = message.value().as<RemoteMessage::PushImageBegin>();
        if (begin != nullptr) announced = begin->size;
        const auto step = receiver.receive(std::move(message).value());

        if (const auto& assembly = receiver.assembly()) {
            if (assembly->size > kMaxImageBytes) std::abort();
            if (static_cast<std::int64_t>(assembly->data.size()) > assembly->size) std::abort();
        }
        if (const auto* push = std::get_if<ComputerPush>(&step)) {
            if (const auto* image = push->content.as<ComputerPush::Image>()) {
                if (static_cast<std::int64_t>(image->data.size()) != announced) std::abort();
            }
        }
    }
    return 0;
}
