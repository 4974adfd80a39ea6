#pragma once

#include <functional>
#include <memory>
#include <string>

#include "Kestrune/dictation/speech/OnlineSpeechEngine.hpp"
#include "KestruneRemoteKit/Support/MainQueue.hpp"
#include "KestruneRemoteKit/Support/Result.hpp"

namespace kestrune {

// The settings window's "Test" of the online transcription service: one second of silence sent
// with `configuration` (not necessarily stored yet) in `locale`. Success when the service answers
// with a transcript (empty is fine), else the error's text. The completion runs once on `main`,
// which outlives the exchange; `client` delivers its completions on `main`.
void testTranscriptionConnection(std::shared_ptr<HttpClient> client, MainQueue& main,
                                 OnlineTranscriptionConfiguration configuration, std::string locale,
                                 std::function<void(Result<void, std::string>)> completion);

}  // namespace kestrune
