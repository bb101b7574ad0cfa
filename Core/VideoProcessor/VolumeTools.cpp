#include "VolumeTools.h"

#include "ContainerFormats.h"
#include "MediaProbe.h"

#include <QFile>
#include <QLocale>
#include <QSemaphore>
#include <QThreadPool>
#include <algorithm>
#include <cmath>
#include <cstdio>

QStringList VolumeTools::detectMaxVolumeArguments(const QString &path)
{
    return {
        QStringLiteral("-i"),        ToolRunner::fileArgument(path), QStringLiteral("-hide_banner"),
        QStringLiteral("-vn"),       QStringLiteral("-sn"),          QStringLiteral("-dn"),
        QStringLiteral("-filter:a"), QStringLiteral("volumedetect"), QStringLiteral("-f"),
        QStringLiteral("null"),      QStringLiteral("/dev/null")};
}

std::optional<double> VolumeTools::detectMaxVolume(const QString &path,
                                                   const std::atomic<bool> *stop)
{
    const auto [output, succeeded] =
        ToolRunner::runTool(ToolRunner::ffmpegPath(), detectMaxVolumeArguments(path), stop);
    if (!succeeded)
        return std::nullopt;
    return parseMaxVolume(output);
}

QStringList VolumeTools::detectMaxVolumeArguments(const QString &path, int audioStreams)
{
    QStringList filters;
    QStringList maps;
    for (int i = 0; i < audioStreams; ++i) {
        filters << QStringLiteral("[0:a:%1]volumedetect[a%1]").arg(i);
        maps << QStringLiteral("-map") << QStringLiteral("[a%1]").arg(i);
    }
    return QStringList{QStringLiteral("-i"), ToolRunner::fileArgument(path),
                       QStringLiteral("-hide_banner"), QStringLiteral("-filter_complex"),
                       filters.join(u';')} +
           maps +
           QStringList{QStringLiteral("-f"), QStringLiteral("null"), QStringLiteral("/dev/null")};
}

std::optional<double> VolumeTools::detectMaxVolume(const QString &path, int audioStreams,
                                                   const std::atomic<bool> *stop)
{
    if (audioStreams <= 0)
        return std::nullopt;
    const auto [output, succeeded] = ToolRunner::runTool(
        ToolRunner::ffmpegPath(), detectMaxVolumeArguments(path, audioStreams), stop);
    if (!succeeded)
        return std::nullopt;
    const QList<double> peaks = parseMaxVolumes(output);
    if (peaks.size() != audioStreams)
        return std::nullopt;
    return *std::max_element(peaks.begin(), peaks.end());
}

std::optional<double> VolumeTools::detectVideoMaxVolume(const QString &inputFile,
                                                        const std::atomic<bool> *stop)
{
    return detectMaxVolume(inputFile, int(MediaProbe::probeMedia(inputFile).audioStreams.size()),
                           stop);
}

QList<double> VolumeTools::parseMaxVolumes(const QString &output)
{
    QList<double> peaks;
    for (const QStringView line : ToolRunner::linesOf(output)) {
        if (const std::optional<double> peak = parseMaxVolume(line.toString()))
            peaks.append(*peak);
    }
    return peaks;
}

std::optional<double> VolumeTools::parseMaxVolume(const QString &output)
{
    for (const QStringView lineView : ToolRunner::linesOf(output)) {
        const QString line = lineView.toString();
        if (!line.contains(QLatin1String("max_volume:")))
            continue;
        // Every white-space character separates; runs of them leave empty parts.
        QStringList parts;
        qsizetype start = 0;
        for (qsizetype j = 0; j <= line.size(); ++j) {
            if (j == line.size() || line[j].isSpace()) {
                parts.append(line.mid(start, j - start));
                start = j + 1;
            }
        }
        const qsizetype at = parts.indexOf(QStringLiteral("max_volume:"));
        if (at < 0 || at + 2 >= parts.size())
            continue;
        return MediaProbe::cDecimal(parts[at + 1]);
    }
    return std::nullopt;
}

QString VolumeTools::gainText(double peak)
{
    const double gain = -peak;
    if (std::isnan(gain))
        return QStringLiteral("nan");
    if (std::isinf(gain))
        return gain > 0 ? QStringLiteral("inf") : QStringLiteral("-inf");
    QString text = QString::number(gain, 'g', QLocale::FloatingPointShortest);
    if (!text.contains(u'.') && !text.contains(u'e'))
        text += QStringLiteral(".0");
    return text;
}

void VolumeTools::maximizeVolume(const QString &path, const std::atomic<bool> *stop)
{
    const std::optional<double> peak = detectMaxVolume(path, stop);
    if (!peak || !(*peak < 0.0))
        return;
    const QString extension = ContainerFormats::pathExtension(path);
    const QString temporary =
        path.left(path.size() - (extension.isEmpty() ? 0 : extension.size() + 1)) +
        QStringLiteral("_max.") + extension;
    const bool succeeded =
        ToolRunner::runTool(ToolRunner::ffmpegPath(),
                            {QStringLiteral("-i"), ToolRunner::fileArgument(path),
                             QStringLiteral("-filter:a"),
                             QStringLiteral("volume=") + gainText(*peak) + QStringLiteral("dB"),
                             QStringLiteral("-y"), ToolRunner::fileArgument(temporary)},
                            stop)
            .second;
    // One rename replaces the file; a failed pass leaves no half-written copy behind.
    if (!succeeded || std::rename(QFile::encodeName(temporary).constData(),
                                  QFile::encodeName(path).constData()) != 0)
        QFile::remove(temporary);
}

QStringList VolumeTools::maximizeVideoVolumeArguments(const QString &inputFile, double peak,
                                                      const QString &temporaryFile)
{
    // Every stream is mapped, so that none is dropped by ffmpeg's choice of one per kind;
    // default marks and language tags go with them. Audio is re-encoded with the container's
    // codec for new audio, everything else is copied.
    const std::optional<ContainerFormat> container =
        ContainerFormats::containerFormat(ContainerFormats::pathExtension(inputFile));
    QStringList arguments{QStringLiteral("-i"),   ToolRunner::fileArgument(inputFile),
                          QStringLiteral("-map"), QStringLiteral("0"),
                          QStringLiteral("-c"),   QStringLiteral("copy")};
    if (container) {
        arguments << QStringLiteral("-c:a") << container->audioCodec;
        if (container->audioCodec == QLatin1String("vorbis"))
            arguments << QStringLiteral("-ac:a") << QStringLiteral("2");
    }
    arguments << QStringLiteral("-filter:a")
              << QStringLiteral("volume=") + gainText(peak) + QStringLiteral("dB")
              << QStringLiteral("-strict") << QStringLiteral("-2") << QStringLiteral("-y")
              << ToolRunner::fileArgument(temporaryFile);
    return arguments;
}

std::shared_ptr<ToolProcess> VolumeTools::maximizeVideoVolume(const QString &inputFile,
                                                              ToolRunner::Progress progress,
                                                              ToolRunner::Completion completion)
{
    // The analysis reads the whole video on a pool thread while this thread waits for it.
    std::optional<double> peak;
    QSemaphore done;
    QThreadPool::globalInstance()->start([&] {
        peak = detectVideoMaxVolume(inputFile);
        done.release();
    });
    done.acquire();
    return maximizeVideoVolume(inputFile, peak, std::move(progress), std::move(completion));
}

std::shared_ptr<ToolProcess> VolumeTools::maximizeVideoVolume(const QString &inputFile,
                                                              std::optional<double> peak,
                                                              ToolRunner::Progress progress,
                                                              ToolRunner::Completion completion,
                                                              const QString &outputFile)
{
    const QString target = outputFile.isEmpty() ? inputFile : outputFile;
    const ToolRunner::Target kind =
        outputFile.isEmpty() ? ToolRunner::Target::Replace : ToolRunner::Target::Reserved;
    if (!peak || *peak == 0.0) {
        const std::optional<QString> error =
            target == inputFile ? std::nullopt : ToolRunner::moveIntoPlace(inputFile, target, kind);
        completion(!error, error.value_or(QString()));
        return nullptr;
    }
    return ToolRunner::runToolIntoPartialFile(
        ToolRunner::ffmpegPath(),
        [&](const QString &temporary) {
            return maximizeVideoVolumeArguments(inputFile, *peak, temporary);
        },
        std::move(progress), target, std::move(completion), kind);
}
