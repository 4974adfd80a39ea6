#include "platform/linux/pulse/PulseAudioCapture.hpp"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string>

#include "KestruneRemoteKit/L10n/L10n.hpp"
#include "KestruneRemoteKit/Support/Log.hpp"

namespace kestrune {

namespace {

constexpr std::string_view kLogCategory = "pulse";
constexpr const char* kApplicationName = "Murrelo";
constexpr const char* kStreamName = "Dictation";

KestruneError noServer() {
    return KestruneError::recordingFailed(
        localized("No audio server is running. Start PulseAudio or PipeWire and try again."));
}

KestruneError noSource() {
    return KestruneError::recordingFailed(
        localized("No audio input was found. Connect a microphone and try again."));
}

KestruneError noAnswer() {
    return KestruneError::recordingFailed(
        localized("The audio server did not answer in time. Please try again."));
}

KestruneError startFailure(const char* reason) {
    return KestruneError::recordingFailed(
        localizedFormat("Failed to start the audio engine: %s", {reason}));
}

}  // namespace

// Everything below the main-thread entry points runs on the loop's thread, under its lock.
struct PulseAudioCapture::Impl {
    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;
    pa_time_event* answerTimer = nullptr;
    bool timedOut = false;

    Handlers handlers;
    // Set once audio may flow and cleared by stop(); failures are only interruptions in between.
    bool running = false;
    bool interrupted = false;
    std::string sourceName;
    std::uint32_t sourceIndex = PA_INVALID_INDEX;

    // One buffer being filled, so the handler always gets exactly kBufferFrames samples.
    std::array<float, kBufferFrames> pending{};
    std::size_t pendingCount = 0;

    // Results of the server queries started from the main thread.
    std::optional<std::string> defaultSource;
    bool queryDone = false;
    bool sourceFound = false;

    ~Impl() { close(); }

    void signal() { pa_threaded_mainloop_signal(loop, 0); }

    // Main thread, lock held: waits until `done` holds or the answer limit passes.
    template <typename Predicate>
    bool waitFor(Predicate done) {
        while (!done() && !timedOut) pa_threaded_mainloop_wait(loop);
        return done();
    }

    void interrupt(Interruption interruption) {
        if (!running || interrupted) return;
        interrupted = true;
        if (handlers.onInterruption) handlers.onInterruption(interruption);
    }

    // Main thread: the connection to the server, ready for queries. The lock is held on success.
    Result<void, KestruneError> connect() {
        // From here on the lock is held whenever `loop` is set, also on failure.
        loop = pa_threaded_mainloop_new();
        if (!loop) return startFailure("no main loop");
        if (pa_threaded_mainloop_start(loop) < 0) {
            pa_threaded_mainloop_free(loop);
            loop = nullptr;
            return startFailure("no main loop");
        }
        pa_threaded_mainloop_lock(loop);
        pa_proplist* properties = pa_proplist_new();
        pa_proplist_sets(properties, PA_PROP_MEDIA_ROLE, "production");
        context = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop), kApplicationName,
                                               properties);
        pa_proplist_free(properties);
        if (!context) return startFailure("no context");
        pa_context_set_state_callback(
            context,
            [](pa_context* c, void* user) {
                auto& self = *static_cast<Impl*>(user);
                const auto state = pa_context_get_state(c);
                if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) {
                    self.interrupt(Interruption::serverLost);
                }
                self.signal();
            },
            this);
        answerTimer = pa_context_rttime_new(
            context, pa_rtclock_now() + kAnswerLimit.count() * PA_USEC_PER_MSEC,
            [](pa_mainloop_api*, pa_time_event*, const struct timeval*, void* user) {
                auto& self = *static_cast<Impl*>(user);
                self.timedOut = true;
                self.signal();
            },
            this);
        // No autospawn: a desktop without a server should say so, not start one behind its back.
        if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            return noServer();
        }
        const auto contextSettled = [&] {
            const auto state = pa_context_get_state(context);
            return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
        };
        if (!waitFor(contextSettled)) return noAnswer();
        if (pa_context_get_state(context) != PA_CONTEXT_READY) return noServer();
        return {};
    }

    // Main thread, lock held: the default source's name and index.
    Result<void, KestruneError> findDefaultSource() {
        queryDone = false;
        defaultSource.reset();
        pa_operation_unref(pa_context_get_server_info(
            context,
            [](pa_context*, const pa_server_info* info, void* user) {
                auto& self = *static_cast<Impl*>(user);
                if (info && info->default_source_name && *info->default_source_name) {
                    self.defaultSource = info->default_source_name;
                }
                self.queryDone = true;
                self.signal();
            },
            this));
        if (!waitFor([&] { return queryDone; })) return noAnswer();
        if (!defaultSource) return noSource();
        sourceName = *defaultSource;

        queryDone = false;
        sourceFound = false;
        pa_operation_unref(pa_context_get_source_info_by_name(
            context, sourceName.c_str(),
            [](pa_context*, const pa_source_info* info, int eol, void* user) {
                auto& self = *static_cast<Impl*>(user);
                if (info) {
                    self.sourceFound = true;
                    self.sourceIndex = info->index;
                }
                if (eol != 0) {
                    self.queryDone = true;
                    self.signal();
                }
            },
            this));
        if (!waitFor([&] { return queryDone; })) return noAnswer();
        if (!sourceFound) return noSource();
        return {};
    }

    // Loop thread: a change of the server's default source or the removal of ours.
    static void onSubscription(pa_context* c, pa_subscription_event_type_t event,
                               std::uint32_t index, void* user) {
        auto& self = *static_cast<Impl*>(user);
        const auto facility = event & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
        const auto type = event & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
        if (facility == PA_SUBSCRIPTION_EVENT_SOURCE && type == PA_SUBSCRIPTION_EVENT_REMOVE &&
            index == self.sourceIndex) {
            self.interrupt(Interruption::configurationChanged);
        } else if (facility == PA_SUBSCRIPTION_EVENT_SERVER) {
            pa_operation_unref(pa_context_get_server_info(
                c,
                [](pa_context*, const pa_server_info* info, void* user) {
                    auto& self = *static_cast<Impl*>(user);
                    const std::string current =
                        info && info->default_source_name ? info->default_source_name : "";
                    if (current != self.sourceName) {
                        self.interrupt(Interruption::configurationChanged);
                    }
                },
                &self));
        }
    }

    // Loop thread: whatever the server has sent, cut into buffers of kBufferFrames.
    static void onReadable(pa_stream* s, std::size_t, void* user) {
        auto& self = *static_cast<Impl*>(user);
        const void* data = nullptr;
        std::size_t bytes = 0;
        while (pa_stream_readable_size(s) > 0 && pa_stream_peek(s, &data, &bytes) == 0 &&
               bytes > 0) {
            // A hole (no data) is dropped: it is not audio the user made.
            if (data) self.deliver(static_cast<const float*>(data), bytes / sizeof(float));
            pa_stream_drop(s);
        }
    }

    void deliver(const float* samples, std::size_t count) {
        while (count > 0) {
            const std::size_t taken = std::min(count, kBufferFrames - pendingCount);
            std::memcpy(pending.data() + pendingCount, samples, taken * sizeof(float));
            pendingCount += taken;
            samples += taken;
            count -= taken;
            if (pendingCount == kBufferFrames) {
                pendingCount = 0;
                if (running && handlers.onBuffer) handlers.onBuffer(pending);
            }
        }
    }

    // Main thread, lock held: the record stream from our source, running.
    Result<Formats, KestruneError> openStream() {
        const pa_sample_spec requested{PA_SAMPLE_FLOAT32NE,
                                       static_cast<std::uint32_t>(kClientFormat.sampleRate),
                                       static_cast<std::uint8_t>(kClientFormat.channelCount)};
        stream = pa_stream_new(context, kStreamName, &requested, nullptr);
        if (!stream) return startFailure(pa_strerror(pa_context_errno(context)));
        pa_stream_set_state_callback(
            stream,
            [](pa_stream* s, void* user) {
                auto& self = *static_cast<Impl*>(user);
                const auto state = pa_stream_get_state(s);
                if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) {
                    // The server kills the stream when its source goes away, and when the server
                    // itself goes the context fails as well.
                    self.interrupt(pa_context_get_state(self.context) == PA_CONTEXT_READY
                                       ? Interruption::configurationChanged
                                       : Interruption::serverLost);
                }
                self.signal();
            },
            this);
        pa_stream_set_read_callback(stream, &Impl::onReadable, this);
        pa_stream_set_moved_callback(
            stream,
            [](pa_stream*, void* user) {
                static_cast<Impl*>(user)->interrupt(Interruption::configurationChanged);
            },
            this);
        pa_stream_set_suspended_callback(
            stream,
            [](pa_stream* s, void* user) {
                if (pa_stream_is_suspended(s) == 1) {
                    static_cast<Impl*>(user)->interrupt(Interruption::configurationChanged);
                }
            },
            this);
        pa_buffer_attr attributes;
        std::memset(&attributes, 0xff, sizeof attributes);  // (uint32_t)-1: the server's choice
        attributes.fragsize = static_cast<std::uint32_t>(kBufferFrames * sizeof(float));
        if (pa_stream_connect_record(stream, sourceName.c_str(), &attributes,
                                     PA_STREAM_ADJUST_LATENCY) < 0) {
            return startFailure(pa_strerror(pa_context_errno(context)));
        }
        const auto streamSettled = [&] {
            const auto state = pa_stream_get_state(stream);
            return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
        };
        if (!waitFor(streamSettled)) return noAnswer();
        if (pa_stream_get_state(stream) != PA_STREAM_READY) {
            if (pa_context_get_state(context) != PA_CONTEXT_READY) return noServer();
            return startFailure(pa_strerror(pa_context_errno(context)));
        }
        const pa_sample_spec* delivered = pa_stream_get_sample_spec(stream);
        return Formats{{static_cast<double>(delivered->rate), delivered->channels}, kClientFormat};
    }

    void subscribe() {
        pa_context_set_subscribe_callback(context, &Impl::onSubscription, this);
        pa_operation_unref(
            pa_context_subscribe(context,
                                 static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SERVER |
                                                                     PA_SUBSCRIPTION_MASK_SOURCE),
                                 nullptr, nullptr));
    }

    // Main thread, lock not held: everything released; the loop's thread has ended on return.
    void close() {
        if (!loop) return;
        pa_threaded_mainloop_lock(loop);
        running = false;
        if (answerTimer) {
            pa_threaded_mainloop_get_api(loop)->time_free(answerTimer);
            answerTimer = nullptr;
        }
        if (stream) {
            pa_stream_set_state_callback(stream, nullptr, nullptr);
            pa_stream_set_read_callback(stream, nullptr, nullptr);
            pa_stream_set_moved_callback(stream, nullptr, nullptr);
            pa_stream_set_suspended_callback(stream, nullptr, nullptr);
            pa_stream_disconnect(stream);
            pa_stream_unref(stream);
            stream = nullptr;
        }
        if (context) {
            pa_context_set_state_callback(context, nullptr, nullptr);
            pa_context_set_subscribe_callback(context, nullptr, nullptr);
            pa_context_disconnect(context);
            pa_context_unref(context);
            context = nullptr;
        }
        pa_threaded_mainloop_unlock(loop);
        pa_threaded_mainloop_stop(loop);
        pa_threaded_mainloop_free(loop);
        loop = nullptr;
    }
};

PulseAudioCapture::PulseAudioCapture() = default;

PulseAudioCapture::~PulseAudioCapture() {
    stop();
}

Result<AudioCapture::Formats, KestruneError> PulseAudioCapture::start(Handlers handlers) {
    stop();
    impl_ = std::make_unique<Impl>();
    auto& impl = *impl_;
    impl.handlers = std::move(handlers);
    const auto failed = [&](KestruneError error) -> Result<Formats, KestruneError> {
        if (impl.loop) pa_threaded_mainloop_unlock(impl.loop);
        log(LogLevel::warning, kLogCategory, "cannot record: " + error.message());
        impl_.reset();
        return error;
    };
    if (auto connected = impl.connect(); !connected) return failed(connected.error());
    if (auto found = impl.findDefaultSource(); !found) return failed(found.error());
    impl.subscribe();
    auto formats = impl.openStream();
    if (!formats) return failed(formats.error());
    impl.running = true;
    pa_threaded_mainloop_unlock(impl.loop);
    return formats;
}

void PulseAudioCapture::stop() {
    impl_.reset();
}

bool PulseAudioCapture::inputAvailable() {
    Impl impl;
    const bool available = impl.connect() && impl.findDefaultSource();
    if (impl.loop) pa_threaded_mainloop_unlock(impl.loop);
    return available;
}

}  // namespace kestrune
