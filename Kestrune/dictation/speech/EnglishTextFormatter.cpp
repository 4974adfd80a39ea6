#include "Kestrune/dictation/speech/EnglishTextFormatter.hpp"

#include <array>
#include <cctype>
#include <optional>
#include <vector>

namespace kestrune::EnglishTextFormatter {

namespace {

enum class Role { word, mark, endOfSentence, lineBreak };

struct Spoken {
    std::string_view first;
    std::string_view second;  // empty for one-word commands
    std::string_view written;
    Role role;
};

// Two-word commands come before any one-word command sharing their first word.
constexpr std::array<Spoken, 9> kCommands = {{
    {"new", "line", "\n", Role::lineBreak},
    {"new", "paragraph", "\n\n", Role::lineBreak},
    {"full", "stop", ".", Role::endOfSentence},
    {"question", "mark", "?", Role::endOfSentence},
    {"exclamation", "mark", "!", Role::endOfSentence},
    {"exclamation", "point", "!", Role::endOfSentence},
    {"period", "", ".", Role::endOfSentence},
    {"comma", "", ",", Role::mark},
    {"colon", "", ":", Role::mark},
}};

std::vector<std::string_view> splitWords(std::string_view text) {
    std::vector<std::string_view> words;
    std::size_t start = 0;
    while (start < text.size()) {
        while (start < text.size() && text[start] == ' ') ++start;
        std::size_t end = start;
        while (end < text.size() && text[end] != ' ') ++end;
        if (end > start) words.push_back(text.substr(start, end - start));
        start = end;
    }
    return words;
}

// The command starting at `words[index]`, if any.
const Spoken* commandAt(const std::vector<std::string_view>& words, std::size_t index) {
    for (const auto& command : kCommands) {
        if (words[index] != command.first) continue;
        if (command.second.empty()) return &command;
        if (index + 1 < words.size() && words[index + 1] == command.second) return &command;
    }
    return nullptr;
}

// The pronoun stays a capital wherever it stands: "i", "i'm", "i'll", "i've", "i'd".
bool isFirstPerson(std::string_view word) {
    return word == "i" || (word.size() > 1 && word[0] == 'i' && word[1] == '\'');
}

std::string capitalized(std::string_view word) {
    std::string text(word);
    if (!text.empty())
        text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    return text;
}

}  // namespace

std::string written(std::string_view recognizedWords) {
    const auto words = splitWords(recognizedWords);
    std::string text;
    bool startsSentence = true;
    std::optional<Role> last;
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (const Spoken* command = commandAt(words, i)) {
            if (!command->second.empty()) ++i;
            text += command->written;
            if (command->role != Role::mark) startsSentence = true;
            last = command->role;
            continue;
        }
        // After a line break the next word starts the line; elsewhere words are one space apart.
        if (last && *last != Role::lineBreak) text += ' ';
        text += startsSentence || isFirstPerson(words[i]) ? capitalized(words[i])
                                                          : std::string(words[i]);
        startsSentence = false;
        last = Role::word;
    }
    if (last == Role::word) text += '.';
    return text;
}

}  // namespace kestrune::EnglishTextFormatter
