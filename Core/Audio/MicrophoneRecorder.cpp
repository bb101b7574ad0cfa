#include "MicrophoneRecorder.h"

#include <QDeadlineTimer>
#include <QFile>
#include <cstring>
#include <functional>
#include <optional>
#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/mainloop.h>
#include <pulse/stream.h>
#include <sndfile.h>
#include <vector>

namespace {

constexpr int sampleRate = 44100;
constexpr int channelCount = 2;
constexpr size_t frameBytes = channelCount * sizeof(qint32);
// Small fragments, so that a pause or a stop takes effect within a few tens of milliseconds.
constexpr uint32_t fragmentBytes = uint32_t(sampleRate / 25 * frameBytes); // 40 ms
// How long the capture loop may sleep before it looks at the pause and stop requests again.
constexpr int pollMilliseconds = 20;
// A server that accepts the connection but never answers would otherwise keep us waiting.
constexpr int connectTimeoutMilliseconds = 5000;

QString pulseMessage(int error)
{
    return QString::fromLocal8Bit(pa_strerror(error));
}

// One connection to the sound server, on a main loop that the capture thread drives itself (so
// that it can look at its requests between rounds).
class Connection {
public:
    Connection()
        : loop(pa_mainloop_new())
    {
        if (loop)
            context = pa_context_new(pa_mainloop_get_api(loop), "Kelvorandix");
    }
    ~Connection()
    {
        if (stream) {
            pa_stream_disconnect(stream);
            pa_stream_unref(stream);
        }
        if (context) {
            pa_context_disconnect(context);
            pa_context_unref(context);
        }
        if (loop)
            pa_mainloop_free(loop);
    }
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    // Dispatches what the server sent, waiting at most timeoutMs for it.
    bool iterate(int timeoutMs)
    {
        return pa_mainloop_prepare(loop, timeoutMs * 1000) >= 0 && pa_mainloop_poll(loop) >= 0 &&
               pa_mainloop_dispatch(loop) >= 0;
    }
    QString errorMessage() const
    {
        return pulseMessage(context ? pa_context_errno(context) : PA_ERR_INTERNAL);
    }
    bool isGood() const
    {
        return PA_CONTEXT_IS_GOOD(pa_context_get_state(context)) &&
               (!stream || PA_STREAM_IS_GOOD(pa_stream_get_state(stream)));
    }

    pa_mainloop *loop = nullptr;
    pa_context *context = nullptr;
    pa_stream *stream = nullptr;
};

struct OutputFile {
    ~OutputFile()
    {
        if (file)
            sf_close(file);
    }
    // Returns the library's message when the file could not be completed.
    QString close()
    {
        SNDFILE *closing = file;
        file = nullptr;
        const int error = sf_close(closing);
        return error ? QString::fromLocal8Bit(sf_error_number(error)) : QString();
    }
    SNDFILE *file = nullptr;
};

} // namespace

MicrophoneRecorder::MicrophoneRecorder(QObject *parent)
    : QObject(parent)
{}

MicrophoneRecorder::~MicrophoneRecorder()
{
    // What the thread posts from now on is dropped with the object.
    stopRequested = true;
    joinCapture();
}

void MicrophoneRecorder::joinCapture()
{
    if (thread.joinable())
        thread.join();
}

void MicrophoneRecorder::startRecording(const QString &file)
{
    if (recording)
        return;
    // The previous recording has delivered its end, so its thread is leaving or gone.
    joinCapture();
    recording = true;
    capturing = false;
    stopRequested = false;
    pauseRequested = false;
    thread = std::thread([this, file] {
        const auto [signal, text] = capture(file);
        postEnd(signal, text);
    });
}

void MicrophoneRecorder::pauseRecording()
{
    if (!capturing || pauseRequested.exchange(true))
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (capturing)
                emit paused();
        },
        Qt::QueuedConnection);
}

void MicrophoneRecorder::resumeRecording()
{
    if (!capturing || !pauseRequested.exchange(false))
        return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (capturing)
                emit resumed();
        },
        Qt::QueuedConnection);
}

void MicrophoneRecorder::stopRecording()
{
    if (recording)
        stopRequested = true;
}

void MicrophoneRecorder::postStarted()
{
    QMetaObject::invokeMethod(
        this,
        [this] {
            capturing = true;
            emit started();
        },
        Qt::QueuedConnection);
}

void MicrophoneRecorder::postEnd(EndSignal signal, const QString &text)
{
    QMetaObject::invokeMethod(
        this,
        [this, signal, text] {
            recording = false;
            capturing = false;
            emit(this->*signal)(text);
        },
        Qt::QueuedConnection);
}

// The capture thread. Every way out returns the signal that ends the recording.
std::pair<MicrophoneRecorder::EndSignal, QString> MicrophoneRecorder::capture(const QString &file)
{
    const auto notStarted = [](const QString &reason) {
        return std::pair{&MicrophoneRecorder::failedToStart, reason};
    };
    Connection pulse;
    if (!pulse.context)
        return notStarted(pulseMessage(PA_ERR_INTERNAL));
    // With no server running libpulse would spawn a daemon from inside our process; a missing
    // server is reported instead.
    if (pa_context_connect(pulse.context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        return notStarted(pulse.errorMessage());

    const QDeadlineTimer deadline(connectTimeoutMilliseconds);
    const auto waitFor = [&](const std::function<bool()> &ready) -> std::optional<QString> {
        while (!ready()) {
            if (!pulse.isGood())
                return pulse.errorMessage();
            if (stopRequested)
                return QStringLiteral("The recording was stopped before it started");
            if (deadline.hasExpired())
                return pulseMessage(PA_ERR_TIMEOUT);
            if (!pulse.iterate(pollMilliseconds))
                return pulse.errorMessage();
        }
        return std::nullopt;
    };
    if (const auto failure =
            waitFor([&] { return pa_context_get_state(pulse.context) == PA_CONTEXT_READY; }))
        return notStarted(*failure);

    const pa_sample_spec format{PA_SAMPLE_S32NE, sampleRate, channelCount};
    pulse.stream = pa_stream_new(pulse.context, "Microphone", &format, nullptr);
    if (!pulse.stream)
        return notStarted(pulse.errorMessage());
    const pa_buffer_attr buffering{uint32_t(-1), uint32_t(-1), uint32_t(-1), uint32_t(-1),
                                   fragmentBytes};
    // No source name: the server's default source, or PULSE_SOURCE when the user set it. The
    // source is asked for a latency of one fragment, so that what was captured before a pause
    // or a stop arrives before it takes effect.
    if (pa_stream_connect_record(pulse.stream, nullptr, &buffering, PA_STREAM_ADJUST_LATENCY) < 0)
        return notStarted(pulse.errorMessage());
    if (const auto failure =
            waitFor([&] { return pa_stream_get_state(pulse.stream) == PA_STREAM_READY; }))
        return notStarted(*failure);

    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = channelCount;
    info.format = SF_FORMAT_AIFF | SF_FORMAT_PCM_32;
    OutputFile output;
    output.file = sf_open(QFile::encodeName(file).constData(), SFM_WRITE, &info);
    if (!output.file)
        return notStarted(QStringLiteral("Could not create '%1': %2")
                              .arg(file, QString::fromLocal8Bit(sf_strerror(nullptr))));
    postStarted();

    // Reads whatever the server has delivered, writing it unless paused.
    std::vector<qint32> samples;
    const auto readAvailable = [&]() -> QString {
        while (pa_stream_readable_size(pulse.stream) > 0) {
            const void *data = nullptr;
            size_t bytes = 0;
            if (pa_stream_peek(pulse.stream, &data, &bytes) < 0)
                return pulse.errorMessage();
            if (bytes == 0)
                break;
            const sf_count_t frames = sf_count_t(bytes / frameBytes);
            if (!pauseRequested && frames > 0) {
                // A copy keeps the samples aligned; a hole in the stream is written as silence
                // so that the recording keeps its length.
                samples.assign(size_t(frames) * channelCount, 0);
                if (data)
                    std::memcpy(samples.data(), data, size_t(frames) * frameBytes);
                if (sf_writef_int(output.file, samples.data(), frames) != frames) {
                    pa_stream_drop(pulse.stream);
                    return QString::fromLocal8Bit(sf_strerror(output.file));
                }
            }
            pa_stream_drop(pulse.stream);
        }
        return QString();
    };

    QString error;
    while (error.isEmpty() && !stopRequested) {
        if (!pulse.iterate(pollMilliseconds) || !pulse.isGood())
            error = pulse.errorMessage();
        else
            error = readAvailable();
    }
    // What had arrived when the stop came belongs to the recording.
    if (error.isEmpty() && pulse.iterate(0) && pulse.isGood())
        error = readAvailable();
    const QString closing = output.close();
    return {&MicrophoneRecorder::finished, error.isEmpty() ? closing : error};
}
