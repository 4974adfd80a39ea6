#pragma once

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace kestrune::testing {

// Sound files for tests, made at test time with the distribution's tools (flite, sox), and played
// into the test PulseAudio server's null sink, whose monitor is the default source.

inline bool runQuietly(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

// An English sentence spoken by flite's "slt" voice, as 16 kHz mono 16-bit WAV.
inline std::filesystem::path spokenSentence(const std::filesystem::path& folder,
                                            const std::string& name, const std::string& text) {
    const auto raw = folder / (name + "-flite.wav");
    const auto wav = folder / (name + ".wav");
    runQuietly("flite -voice slt -t '" + text + "' -o '" + raw.string() + "'");
    runQuietly("sox '" + raw.string() + "' -r 16000 -c 1 -b 16 '" + wav.string() + "'");
    return wav;
}

// `synth` is sox's generator, e.g. "1.5 square 440" or "1.5 sine 0" with gain; 16 kHz mono.
inline std::filesystem::path synthesized(const std::filesystem::path& folder,
                                         const std::string& name, const std::string& synth) {
    const auto wav = folder / (name + ".wav");
    runQuietly("sox -D -n -r 16000 -c 1 -b 16 '" + wav.string() + "' " + synth);
    return wav;
}

// Plays a file to the end (in real time) into the default sink.
inline bool play(const std::filesystem::path& wav) {
    return runQuietly("paplay '" + wav.string() + "'");
}

inline std::vector<std::string> normalizedWords(const std::string& text) {
    std::vector<std::string> words;
    std::istringstream in(text);
    std::string word;
    while (in >> word) {
        std::string clean;
        for (const char c : word) {
            if (std::isalnum(static_cast<unsigned char>(c)) || c == '\'') {
                clean += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            }
        }
        if (!clean.empty()) words.push_back(clean);
    }
    return words;
}

// Word-level edit distance: substitutions, insertions and deletions needed to turn the reference
// into the hypothesis.
inline std::size_t wordErrors(const std::string& reference, const std::string& hypothesis) {
    const auto ref = normalizedWords(reference);
    const auto hyp = normalizedWords(hypothesis);
    std::vector<std::size_t> previous(hyp.size() + 1), current(hyp.size() + 1);
    for (std::size_t j = 0; j <= hyp.size(); ++j) previous[j] = j;
    for (std::size_t i = 1; i <= ref.size(); ++i) {
        current[0] = i;
        for (std::size_t j = 1; j <= hyp.size(); ++j) {
            const std::size_t substitution = previous[j - 1] + (ref[i - 1] == hyp[j - 1] ? 0 : 1);
            current[j] = std::min({substitution, previous[j] + 1, current[j - 1] + 1});
        }
        std::swap(previous, current);
    }
    return previous[hyp.size()];
}

}  // namespace kestrune::testing
