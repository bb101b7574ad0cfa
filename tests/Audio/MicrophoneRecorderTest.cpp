// The microphone recorder against a private sound server whose microphone is a sine.
#include "Audio/MicrophoneRecorder.h"
#include "TestSupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cmath>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <vector>

namespace {

// The signals in the order they came, with their texts.
struct Events {
    explicit Events(MicrophoneRecorder &recorder)
    {
        QObject::connect(&recorder, &MicrophoneRecorder::started, [this] { add("started"); });
        QObject::connect(&recorder, &MicrophoneRecorder::paused, [this] { add("paused"); });
        QObject::connect(&recorder, &MicrophoneRecorder::resumed, [this] { add("resumed"); });
        QObject::connect(&recorder, &MicrophoneRecorder::finished, [this](const QString &error) {
            add("finished");
            text = error;
        });
        QObject::connect(&recorder, &MicrophoneRecorder::failedToStart,
                         [this](const QString &reason) {
                             add("failedToStart");
                             text = reason;
                         });
    }
    void add(const char *name) { names.append(QString::fromLatin1(name)); }
    bool has(const char *name) const { return names.contains(QString::fromLatin1(name)); }

    QStringList names;
    QString text;
};

// Runs the event loop for a while.
void spend(int milliseconds)
{
    QElapsedTimer clock;
    clock.start();
    TestSupport::waitUntil([&] { return clock.elapsed() >= milliseconds; });
}

} // namespace

TEST(MicrophoneRecorder, RecordsTheSourceAndWritesNothingWhilePaused)
{
    TestSupport::PulseServer server;
    ASSERT_TRUE(server.isRunning()) << server.log();
    server.useInThisProcess();
    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("overlay_audio.aiff"));

    MicrophoneRecorder recorder;
    Events events(recorder);
    recorder.startRecording(file);
    EXPECT_TRUE(recorder.isRecording());
    ASSERT_TRUE(TestSupport::waitUntil([&] { return !events.names.isEmpty(); }, 10000));
    ASSERT_EQ(events.names, QStringList{QStringLiteral("started")}) << events.text;

    // About 0.5 s recorded, 0.5 s paused, 0.5 s recorded; the clock says how long exactly.
    QElapsedTimer clock;
    clock.start();
    spend(500);
    recorder.pauseRecording();
    const qint64 firstPart = clock.restart();
    EXPECT_TRUE(recorder.isPaused());
    recorder.pauseRecording(); // already paused: no second signal
    spend(500);
    recorder.resumeRecording();
    clock.restart();
    EXPECT_FALSE(recorder.isPaused());
    spend(500);
    recorder.stopRecording();
    const qint64 secondPart = clock.elapsed();
    ASSERT_TRUE(TestSupport::waitUntil([&] { return events.has("finished"); }, 10000));
    EXPECT_EQ(events.names, (QStringList{QStringLiteral("started"), QStringLiteral("paused"),
                                         QStringLiteral("resumed"), QStringLiteral("finished")}));
    EXPECT_EQ(events.text, QString());
    EXPECT_FALSE(recorder.isRecording());

    SF_INFO info{};
    SNDFILE *audio = sf_open(QFile::encodeName(file).constData(), SFM_READ, &info);
    ASSERT_NE(audio, nullptr) << sf_strerror(nullptr);
    EXPECT_EQ(info.format, SF_FORMAT_AIFF | SF_FORMAT_PCM_32);
    EXPECT_EQ(info.samplerate, 44100);
    EXPECT_EQ(info.channels, 2);
    std::vector<int> samples(size_t(info.frames * info.channels));
    EXPECT_EQ(sf_readf_int(audio, samples.data(), info.frames), info.frames);
    sf_close(audio);

    // The pause left nothing behind: neither the sound of the pause nor silence in its place.
    const double recordedMs = double(info.frames) * 1000 / 44100;
    EXPECT_NEAR(recordedMs, double(firstPart + secondPart), 100);
    EXPECT_NEAR(recordedMs, 1000, 200);
    const size_t block = 44100 / 20 * 2; // 50 ms
    for (size_t at = 0; at + block <= samples.size(); at += block) {
        double sum = 0;
        for (size_t i = at; i < at + block; ++i)
            sum += double(samples[i]) * samples[i];
        const double level = 20 * std::log10(std::sqrt(sum / double(block)) / 2147483648.0 + 1e-12);
        ASSERT_GT(level, -40) << "silent 50 ms at " << at / 2 * 1000 / 44100 << " ms";
    }

    // Another recording with the same object, and a recorder destroyed while it records: its
    // file is complete, and nothing reaches the dead object.
    recorder.startRecording(file);
    ASSERT_TRUE(TestSupport::waitUntil([&] { return events.names.size() == 5; }, 10000));
    EXPECT_EQ(events.names.last(), QStringLiteral("started"));
    {
        MicrophoneRecorder dropped;
        bool startedOnce = false;
        QObject::connect(&dropped, &MicrophoneRecorder::started, [&] { startedOnce = true; });
        const QString second = folder.filePath(QStringLiteral("dropped.aiff"));
        dropped.startRecording(second);
        ASSERT_TRUE(TestSupport::waitUntil([&] { return startedOnce; }, 10000));
        spend(200);
    }
    spend(100);
    SF_INFO droppedInfo{};
    audio = sf_open(QFile::encodeName(folder.filePath(QStringLiteral("dropped.aiff"))).constData(),
                    SFM_READ, &droppedInfo);
    ASSERT_NE(audio, nullptr) << sf_strerror(nullptr);
    EXPECT_GT(droppedInfo.frames, 44100 / 10);
    sf_close(audio);
    recorder.stopRecording();
    ASSERT_TRUE(TestSupport::waitUntil([&] { return events.names.size() == 6; }, 10000));
    EXPECT_EQ(events.names.last(), QStringLiteral("finished"));
}

TEST(MicrophoneRecorder, NoServerNoSourceOrNoFileFailsToStartWithTheReason)
{
    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("overlay_audio.aiff"));
    {
        const TestSupport::ScopedVariable nowhere(
            "PULSE_SERVER", TestSupport::PulseServer::absentAddress().toLocal8Bit());
        MicrophoneRecorder recorder;
        Events events(recorder);
        recorder.startRecording(file);
        ASSERT_TRUE(TestSupport::waitUntil([&] { return !recorder.isRecording(); }, 10000));
        EXPECT_EQ(events.names, QStringList{QStringLiteral("failedToStart")});
        EXPECT_EQ(events.text, QStringLiteral("Connection refused"));
        // Nothing happens without a recording.
        recorder.pauseRecording();
        recorder.stopRecording();
        spend(50);
        EXPECT_EQ(events.names.size(), 1);
    }
    EXPECT_FALSE(QFile::exists(file));

    TestSupport::PulseServer server;
    ASSERT_TRUE(server.isRunning()) << server.log();
    server.useInThisProcess();
    MicrophoneRecorder recorder;
    Events events(recorder);
    const QString nowhere = folder.filePath(QStringLiteral("missing/overlay_audio.aiff"));
    recorder.startRecording(nowhere);
    ASSERT_TRUE(TestSupport::waitUntil([&] { return !recorder.isRecording(); }, 10000));
    EXPECT_EQ(events.names, QStringList{QStringLiteral("failedToStart")});
    EXPECT_TRUE(events.text.startsWith(QStringLiteral("Could not create '") + nowhere + u'\''))
        << events.text;

    const TestSupport::ScopedVariable missing("PULSE_SOURCE", "no-such-microphone");
    recorder.startRecording(file);
    ASSERT_TRUE(TestSupport::waitUntil([&] { return !recorder.isRecording(); }, 10000));
    EXPECT_EQ(events.names.size(), 2);
    EXPECT_EQ(events.names.last(), QStringLiteral("failedToStart"));
    EXPECT_EQ(events.text, QStringLiteral("No such entity"));
    EXPECT_FALSE(QFile::exists(file));
}
