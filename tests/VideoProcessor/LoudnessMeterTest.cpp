// The loudness meter over ffmpeg's WAV stream, against ffmpeg's own EBU R128 meter.
#include "VideoProcessor/LoudnessMeter.h"
#include "TestSupport.h"
#include "VideoProcessor/LoudnessMeasure.h"
#include "VideoProcessor/ToolRunner.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cmath>
#include <gtest/gtest.h>
#include <thread>

namespace {

QStringList lavfi(const QString &source)
{
    return {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"), source};
}

std::optional<LoudnessMeasure::Measurement>
ours(const QString &source, LoudnessMeter::Peak peak = LoudnessMeter::Peak::True)
{
    std::optional<LoudnessMeasure::Measurement> result;
    QString error;
    EXPECT_TRUE(LoudnessMeter::measure(lavfi(source) + QStringList{QStringLiteral("-nostats")} +
                                           LoudnessMeter::streamOutput(),
                                       peak, nullptr, nullptr, &result, &error))
        << error.toStdString();
    return result;
}

std::optional<LoudnessMeasure::Measurement> ffmpegs(const QString &source)
{
    const auto [text, succeeded] = ToolRunner::runTool(
        ToolRunner::ffmpegPath(),
        lavfi(source) + QStringList{QStringLiteral("-af"), LoudnessMeasure::meterFilter(),
                                    QStringLiteral("-f"), QStringLiteral("null"),
                                    QStringLiteral("-")});
    EXPECT_TRUE(succeeded) << text.toStdString();
    return LoudnessMeasure::parse(text);
}

// Left: a 12 kHz tone sampled off its crests, so its true peak is 3 dB over its samples' (-6 and
// -9 dBFS); right: a tone that drops 20 dB every other second. Faded in: the ringing of a tone
// that starts at full level is no true peak, and ffmpeg's meter reads it as one.
const QString stereo = QStringLiteral(
    "aevalsrc=exprs=0.5*sin(2*PI*12000*t+PI/4)|0.3*sin(2*PI*440*t)*(0.1+0.9*lt(mod(t\\,2)\\,1))"
    ":s=48000:d=6,afade=t=in:d=0.5");

} // namespace

TEST(LoudnessMeter, AgreesWithFfmpegsMeter)
{
    const QString sources[] = {
        stereo,
        // 5.1 at 44.1 kHz: the low-frequency channel, loudest, counts for the peak only; the
        // back channels count more than the front ones.
        QStringLiteral("aevalsrc=exprs=0.1*sin(2*PI*300*t)|0.1*sin(2*PI*500*t)|0.05*sin(2*PI*700*t)"
                       "|0.9*sin(2*PI*60*t)|0.2*sin(2*PI*900*t)|0.2*sin(2*PI*1100*t)"
                       ":c=5.1:s=44100:d=6"),
        QStringLiteral("anoisesrc=c=pink:a=0.5:r=48000:d=6:seed=7")};
    for (const QString &source : sources) {
        const std::optional<LoudnessMeasure::Measurement> measured = ours(source);
        const std::optional<LoudnessMeasure::Measurement> reference = ffmpegs(source);
        ASSERT_TRUE(measured && reference) << source.toStdString();
        // ffmpeg's summary gives tenths.
        EXPECT_NEAR(measured->integrated, reference->integrated, 0.1 + 0.05)
            << source.toStdString();
        EXPECT_NEAR(measured->truePeak, reference->truePeak, 0.2 + 0.05) << source.toStdString();
    }
    EXPECT_NEAR(ours(stereo)->truePeak, 20 * std::log10(0.5), 0.1);
    const std::optional<LoudnessMeasure::Measurement> sample =
        ours(stereo, LoudnessMeter::Peak::Sample);
    ASSERT_TRUE(sample.has_value());
    EXPECT_NEAR(sample->truePeak, 20 * std::log10(0.5 * std::sqrt(0.5)), 0.01);
    EXPECT_TRUE(std::isnan(ours(stereo, LoudnessMeter::Peak::None)->truePeak));
}

TEST(LoudnessMeter, TheStreamMayComeInPiecesOfAnySize)
{
    QTemporaryDir folder;
    const QString wave = folder.filePath(QStringLiteral("stereo.wav"));
    TestSupport::ffmpeg(lavfi(stereo) + LoudnessMeter::streamOutput().mid(0, 4) +
                        QStringList{wave});
    QFile file(wave);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    auto meter = [&](qsizetype piece) {
        LoudnessMeter meter;
        QString error;
        for (qsizetype at = 0; at < bytes.size(); at += piece)
            EXPECT_TRUE(meter.add(
                QByteArrayView(bytes).sliced(at).first(std::min(piece, bytes.size() - at)), &error))
                << error.toStdString();
        EXPECT_DOUBLE_EQ(meter.seconds(), 6.0);
        return meter.measurement();
    };
    const std::optional<LoudnessMeasure::Measurement> whole = meter(bytes.size());
    ASSERT_TRUE(whole.has_value());
    for (const qsizetype piece : {3, 4099}) {
        const std::optional<LoudnessMeasure::Measurement> pieces = meter(piece);
        ASSERT_TRUE(pieces.has_value());
        EXPECT_DOUBLE_EQ(pieces->integrated, whole->integrated);
        EXPECT_DOUBLE_EQ(pieces->truePeak, whole->truePeak);
    }
}

TEST(LoudnessMeter, SilenceOtherStreamsAndFailures)
{
    // Silence has no loudness; nothing at all neither.
    EXPECT_FALSE(ours(QStringLiteral("anullsrc=r=48000:cl=stereo:d=2")).has_value());
    EXPECT_FALSE(LoudnessMeter().measurement().has_value());

    // 16-bit samples are not what the meter reads, and it says so.
    std::optional<LoudnessMeasure::Measurement> result;
    QString error;
    EXPECT_FALSE(LoudnessMeter::measure(
        lavfi(stereo) +
            QStringList{QStringLiteral("-f"), QStringLiteral("wav"), QStringLiteral("pipe:1")},
        LoudnessMeter::Peak::True, nullptr, nullptr, &result, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("32-bit float WAV"))) << error.toStdString();

    // A failing ffmpeg is reported in its own words.
    EXPECT_FALSE(LoudnessMeter::measure(
        QStringList{QStringLiteral("-i"), QStringLiteral("file:/nonexistent/a.wav")} +
            LoudnessMeter::streamOutput(),
        LoudnessMeter::Peak::True, nullptr, nullptr, &result, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("No such file or directory"))) << error.toStdString();

    // A stop ends a long run at once, as a failure.
    std::atomic<bool> stop{false};
    std::thread stopper([&stop] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        stop = true;
    });
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(LoudnessMeter::measure(
        lavfi(QStringLiteral("sine=r=48000:d=36000")) + LoudnessMeter::streamOutput(),
        LoudnessMeter::Peak::True, &stop, nullptr, &result, &error));
    stopper.join();
    EXPECT_LT(timer.elapsed(), 10000);
}
