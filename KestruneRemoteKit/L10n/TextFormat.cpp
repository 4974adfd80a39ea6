#include "KestruneRemoteKit/L10n/TextFormat.hpp"

#include <algorithm>
#include <optional>

namespace kestrune {

namespace {

// Positions above this are not placeholders but text; no text of ours has more than three values.
constexpr std::size_t kMaxPosition = 9;

struct Placeholder {
    std::size_t length;    // characters from the "%" up to and including the conversion
    std::size_t position;  // 1-based
    char conversion;       // 's' or 'd'
};

bool isConversion(char c) {
    return c == 's' || c == 'd';
}

// Reads a placeholder at `pattern[at]` (a "%"); `nextSequential` is the position a plain "%s"
// takes.
std::optional<Placeholder> readPlaceholder(std::string_view pattern, std::size_t at,
                                           std::size_t nextSequential) {
    if (at + 1 >= pattern.size()) return std::nullopt;
    const char first = pattern[at + 1];
    if (isConversion(first)) return Placeholder{2, nextSequential, first};
    if (first >= '1' && first <= '0' + static_cast<char>(kMaxPosition) && at + 3 < pattern.size() &&
        pattern[at + 2] == '$' && isConversion(pattern[at + 3])) {
        return Placeholder{4, static_cast<std::size_t>(first - '0'), pattern[at + 3]};
    }
    return std::nullopt;
}

template <typename Visit>
void scan(std::string_view pattern, Visit&& visit) {
    std::size_t sequential = 1;
    std::size_t i = 0;
    while (i < pattern.size()) {
        if (pattern[i] != '%') {
            visit(i, std::optional<Placeholder>{}, false);
            ++i;
            continue;
        }
        if (i + 1 < pattern.size() && pattern[i + 1] == '%') {
            visit(i, std::optional<Placeholder>{}, true);
            i += 2;
            continue;
        }
        const auto placeholder = readPlaceholder(pattern, i, sequential);
        if (!placeholder) {
            visit(i, placeholder, false);
            ++i;
            continue;
        }
        if (placeholder->length == 2) ++sequential;
        visit(i, placeholder, false);
        i += placeholder->length;
    }
}

}  // namespace

std::string formatText(std::string_view pattern, const std::vector<FormatValue>& values) {
    std::string out;
    out.reserve(pattern.size());
    scan(pattern, [&](std::size_t at, const std::optional<Placeholder>& placeholder, bool percent) {
        if (percent) {
            out += '%';
        } else if (!placeholder) {
            out += pattern[at];
        } else if (placeholder->position <= values.size()) {
            out += values[placeholder->position - 1].text();
        } else {
            out += pattern.substr(at, placeholder->length);
        }
    });
    return out;
}

std::string formatText(std::string_view pattern, std::initializer_list<FormatValue> values) {
    return formatText(pattern, std::vector<FormatValue>(values));
}

std::vector<std::string> formatPlaceholders(std::string_view pattern) {
    std::vector<std::string> found;
    scan(pattern, [&](std::size_t, const std::optional<Placeholder>& placeholder, bool) {
        if (placeholder) {
            found.push_back(std::to_string(placeholder->position) + "$" + placeholder->conversion);
        }
    });
    std::sort(found.begin(), found.end());
    return found;
}

}  // namespace kestrune
