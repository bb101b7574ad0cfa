#include "AIFFFile.h"

#include "VSError.h"

#include <QFile>
#include <cmath>
#include <vector>

namespace {

constexpr sf_count_t chunkFrames = 65536;

QString libraryMessage(SNDFILE *file)
{
    return QString::fromLocal8Bit(sf_strerror(file));
}

bool isFloatingPoint(const SF_INFO &info)
{
    const int subtype = info.format & SF_FORMAT_SUBMASK;
    return subtype == SF_FORMAT_FLOAT || subtype == SF_FORMAT_DOUBLE;
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

AIFFFile::AIFFFile(const QString &filepath, const QString &sampleFile)
    : filepath(filepath)
{
    const Reader sample(sampleFile);
    if (!sample.file)
        throw VSError(libraryMessage(nullptr));

    info = SF_INFO{};
    info.samplerate = sample.info.samplerate;
    info.channels = sample.info.channels;
    info.format = sample.info.format;
    audioFile = sf_open(QFile::encodeName(filepath).constData(), SFM_WRITE, &info);
    if (!audioFile)
        throw VSError(libraryMessage(nullptr));

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

void AIFFFile::writeFrames(const void *samples, sf_count_t count)
{
    if (!audioFile)
        throw VSError(QStringLiteral("The audio file '%1' is already closed").arg(filepath));
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

    // Reused from call to call; a double has room for two int samples.
    copyBuffer.resize(size_t(chunkFrames) * size_t(info.channels));
    for (;;) {
        const sf_count_t read =
            floatingPoint ? sf_readf_double(source.file, copyBuffer.data(), chunkFrames)
                          : sf_readf_int(source.file, reinterpret_cast<int *>(copyBuffer.data()),
                                         chunkFrames);
        if (read < 0 || (read == 0 && sf_error(source.file) != SF_ERR_NO_ERROR))
            throw VSError(libraryMessage(source.file));
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
