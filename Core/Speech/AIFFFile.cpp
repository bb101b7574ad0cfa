#include "AIFFFile.h"

#include "VSError.h"

#include <QFile>
#include <QFileInfo>
#include <cmath>
#include <limits>
#include <vector>

namespace {

constexpr sf_count_t chunkFrames = 65536;
constexpr sf_count_t noLimit = std::numeric_limits<sf_count_t>::max();
// The largest size that the 32-bit size fields of AIFF and WAV files can hold.
constexpr sf_count_t largest32BitSize = 0xFFFFFFFFLL;

QString libraryMessage(SNDFILE *file)
{
    return QString::fromLocal8Bit(sf_strerror(file));
}

bool isFloatingPoint(const SF_INFO &info)
{
    const int subtype = info.format & SF_FORMAT_SUBMASK;
    return subtype == SF_FORMAT_FLOAT || subtype == SF_FORMAT_DOUBLE;
}

// Bytes a sample takes in a file; compressed kinds never take more than the 8 assumed here.
sf_count_t bytesPerSample(int format)
{
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_ULAW:
    case SF_FORMAT_ALAW:
        return 1;
    case SF_FORMAT_PCM_16:
        return 2;
    case SF_FORMAT_PCM_24:
        return 3;
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT:
        return 4;
    default:
        return 8;
    }
}

struct Reader {
    explicit Reader(const QString &path)
        : file(sf_open(QFile::encodeName(path).constData(), SFM_READ, &info))
    {}
    ~Reader()
    {
        if (file)
            sf_close(file);
    }
    Reader(const Reader &) = delete;
    Reader &operator=(const Reader &) = delete;

    SF_INFO info{};
    SNDFILE *file;
};

} // namespace

AIFFFile::AIFFFile(const QString &filepath, const QString &sampleFile, Overflow overflow,
                   const std::atomic<bool> *stop)
    : filepath(filepath)
    , overflow(overflow)
    , stop(stop)
    , current(filepath)
{
    const Reader sample(sampleFile);
    if (!sample.file)
        throw VSError(libraryMessage(nullptr));
    create(sample.info.samplerate, sample.info.channels, sample.info.format);
}

AIFFFile::AIFFFile(const QString &filepath, int sampleRate, Overflow overflow,
                   const std::atomic<bool> *stop)
    : filepath(filepath)
    , overflow(overflow)
    , stop(stop)
    , current(filepath)
{
    create(sampleRate, 1, SF_FORMAT_AIFF | SF_FORMAT_PCM_16);
}

void AIFFFile::create(int rate, int channels, int format)
{
    info = SF_INFO{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    const QString longTrack = longTrackFile(filepath);
    if (QFile::exists(longTrack) && !QFile::remove(longTrack))
        throw VSError(QStringLiteral("Could not remove '%1'").arg(longTrack));
    audioFile = sf_open(QFile::encodeName(filepath).constData(), SFM_WRITE, &info);
    if (!audioFile)
        throw VSError(libraryMessage(nullptr));

    frameLimit = noLimit;
    const int container = info.format & SF_FORMAT_TYPEMASK;
    if (container == SF_FORMAT_AIFF || container == SF_FORMAT_WAV) {
        // The header is written on creation; a little room is kept for a pad byte.
        const sf_count_t header = QFileInfo(filepath).size();
        const sf_count_t room = largest32BitSize - header - 16;
        frameLimit =
            std::min(room / (bytesPerSample(info.format) * info.channels), largest32BitSize);
    }

    floatingPoint = isFloatingPoint(info);
    sampleRate = info.samplerate;
    framePerPacket = 1;
    millisecondsPerPacket = 1000.0 / sampleRate * framePerPacket;
}

AIFFFile::~AIFFFile()
{
    if (audioFile)
        sf_close(audioFile);
}

void AIFFFile::close()
{
    if (!audioFile)
        return;
    SNDFILE *file = audioFile;
    audioFile = nullptr;
    if (const int error = sf_close(file))
        throw VSError(QString::fromLocal8Bit(sf_error_number(error)));
}

QString AIFFFile::longTrackFile(const QString &filepath)
{
    const QFileInfo file(filepath);
    const QString suffix = file.suffix();
    return (suffix.isEmpty() ? filepath : filepath.left(filepath.size() - suffix.size() - 1)) +
           QStringLiteral(".w64");
}

QString AIFFFile::writtenTrack(const QString &filepath)
{
    const QString longTrack = longTrackFile(filepath);
    return !QFile::exists(filepath) && QFile::exists(longTrack) ? longTrack : filepath;
}

void AIFFFile::removeTrack(const QString &filepath)
{
    QFile::remove(filepath);
    QFile::remove(longTrackFile(filepath));
}

QString AIFFFile::limitMessage() const
{
    const qint64 minutes = qint64(double(frameLimit) / sampleRate / 60);
    return QStringLiteral("The audio track would be larger than the 4 GiB an AIFF file can hold "
                          "(%1 h %2 min of audio at %3 Hz with %4 channel(s))")
        .arg(minutes / 60)
        .arg(minutes % 60)
        .arg(info.samplerate)
        .arg(info.channels);
}

void AIFFFile::ensureRoomFor(sf_count_t count)
{
    if (count <= frameLimit - frames)
        return;
    if (overflow == Overflow::Refuse)
        throw VSError(limitMessage());
    continueAsW64();
}

void AIFFFile::continueAsW64()
{
    SNDFILE *aiff = audioFile;
    audioFile = nullptr;
    if (const int error = sf_close(aiff))
        throw VSError(QString::fromLocal8Bit(sf_error_number(error)));

    const QString longTrack = longTrackFile(filepath);
    SF_INFO longInfo{};
    longInfo.samplerate = info.samplerate;
    longInfo.channels = info.channels;
    longInfo.format = SF_FORMAT_W64 | (info.format & SF_FORMAT_SUBMASK);
    // Samples are copied as int or double, so a wider kind keeps them exactly.
    if (!sf_format_check(&longInfo))
        longInfo.format = SF_FORMAT_W64 | (floatingPoint ? SF_FORMAT_DOUBLE : SF_FORMAT_PCM_32);
    audioFile = sf_open(QFile::encodeName(longTrack).constData(), SFM_WRITE, &longInfo);
    if (!audioFile)
        throw VSError(libraryMessage(nullptr));
    info.format = longInfo.format;
    current = longTrack;
    frameLimit = noLimit;

    const qint64 written = frames;
    frames = 0;
    const Reader source(filepath);
    if (!source.file)
        throw VSError(libraryMessage(nullptr));
    copyFrom(source.file);
    if (frames != written)
        throw VSError(QStringLiteral("Could not copy the audio track into '%1'").arg(longTrack));
    QFile::remove(filepath);
}

void AIFFFile::writeFrames(const void *samples, sf_count_t count)
{
    if (!audioFile)
        throw VSError(QStringLiteral("The audio file '%1' is already closed").arg(current));
    if (stop && stop->load())
        throw VSError(QStringLiteral("Stopped while writing '%1'").arg(current));
    ensureRoomFor(count);
    const sf_count_t written =
        floatingPoint ? sf_writef_double(audioFile, static_cast<const double *>(samples), count)
                      : sf_writef_int(audioFile, static_cast<const int *>(samples), count);
    if (written != count)
        throw VSError(libraryMessage(audioFile));
    frames += written;
}

void AIFFFile::appendSilence(double ms)
{
    const double exact = ms / millisecondsPerPacket;
    if (!(exact >= 0) || exact >= 4294967296.0)
        throw VSError(QStringLiteral("Cannot append %1 ms of silence").arg(ms));
    sf_count_t remaining = sf_count_t(std::trunc(exact));
    if (remaining == 0)
        return;
    ensureRoomFor(remaining);
    // Zero bits are silence for both int and double samples.
    const size_t samples = size_t(std::min(remaining, chunkFrames)) * size_t(info.channels);
    if (silence.size() < samples)
        silence.resize(samples, 0.0);
    while (remaining > 0) {
        const sf_count_t count = std::min(remaining, chunkFrames);
        writeFrames(silence.data(), count);
        remaining -= count;
    }
}

void AIFFFile::append(const QString &fileAt)
{
    const Reader source(fileAt);
    if (!source.file)
        throw VSError(libraryMessage(nullptr));
    if (source.info.samplerate != info.samplerate || source.info.channels != info.channels)
        throw VSError(QStringLiteral("The audio file '%1' has %2 Hz and %3 channel(s); the track "
                                     "has %4 Hz and %5 channel(s)")
                          .arg(fileAt)
                          .arg(source.info.samplerate)
                          .arg(source.info.channels)
                          .arg(info.samplerate)
                          .arg(info.channels));
    // A length the library does not know is left to the checks of each write.
    if (source.info.frames > 0 && source.info.frames != SF_COUNT_MAX)
        ensureRoomFor(source.info.frames);
    copyFrom(source.file);
}

void AIFFFile::append(const std::vector<short> &samples, int rate)
{
    if (rate != info.samplerate || info.channels != 1)
        throw VSError(QStringLiteral("A clip of %1 Hz and 1 channel cannot go on the track '%2', "
                                     "which has %3 Hz and %4 channel(s)")
                          .arg(rate)
                          .arg(current)
                          .arg(info.samplerate)
                          .arg(info.channels));
    ensureRoomFor(sf_count_t(samples.size()));
    // As the audio library reads 16-bit samples: into the high bits of an int, or as doubles.
    copyBuffer.resize(size_t(chunkFrames));
    for (size_t at = 0; at < samples.size(); at += size_t(chunkFrames)) {
        const size_t count = std::min(samples.size() - at, size_t(chunkFrames));
        if (floatingPoint)
            for (size_t i = 0; i < count; ++i)
                copyBuffer[i] = samples[at + i] / 32768.0;
        else
            for (size_t i = 0; i < count; ++i)
                reinterpret_cast<int *>(copyBuffer.data())[i] = int(samples[at + i]) * 65536;
        writeFrames(copyBuffer.data(), sf_count_t(count));
    }
}

void AIFFFile::copyFrom(SNDFILE *source)
{
    // Reused from call to call; a double has room for two int samples.
    copyBuffer.resize(size_t(chunkFrames) * size_t(info.channels));
    for (;;) {
        const sf_count_t read =
            floatingPoint
                ? sf_readf_double(source, copyBuffer.data(), chunkFrames)
                : sf_readf_int(source, reinterpret_cast<int *>(copyBuffer.data()), chunkFrames);
        if (read < 0 || (read == 0 && sf_error(source) != SF_ERR_NO_ERROR))
            throw VSError(libraryMessage(source));
        if (read == 0)
            break;
        writeFrames(copyBuffer.data(), read);
        if (read < chunkFrames)
            break;
    }
}

double AIFFFile::duration(const QString &of)
{
    const Reader file(of);
    if (!file.file || file.info.samplerate <= 0)
        return 0;
    return double(file.info.frames) * (1000.0 / file.info.samplerate) * 1.0;
}
