#include "Speech/AIFFFile.h"
#include "TestSupport.h"
#include "VSError.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <vector>

namespace {

std::vector<int> samplesOf(const QString &path, SF_INFO *info = nullptr)
{
    SF_INFO local{};
    SNDFILE *file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &local);
    EXPECT_NE(file, nullptr) << sf_strerror(nullptr);
    if (!file)
        return {};
    std::vector<int> samples(size_t(local.frames * local.channels));
    sf_readf_int(file, samples.data(), local.frames);
    sf_close(file);
    if (info)
        *info = local;
    return samples;
}

class AIFFFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        tone = folder.filePath(QStringLiteral("tone 22050.aiff"));
        TestSupport::generateTone(tone, 22050, 1, 0.5);
        output = folder.filePath(QStringLiteral("track ü.aiff"));
    }
    QTemporaryDir folder;
    QString tone;
    QString output;
};

} // namespace

TEST_F(AIFFFileTest, TakesTheSampleFilesFormat)
{
    AIFFFile track(output, tone);
    EXPECT_EQ(track.sampleRate, 22050);
    EXPECT_EQ(track.framePerPacket, 1);
    EXPECT_DOUBLE_EQ(track.millisecondsPerPacket, 1000.0 / 22050);
    EXPECT_EQ(track.length(), 0);
    track.close();
    SF_INFO info{};
    samplesOf(output, &info);
    EXPECT_EQ(info.samplerate, 22050);
    EXPECT_EQ(info.channels, 1);
    EXPECT_EQ(info.format, SF_FORMAT_AIFF | SF_FORMAT_PCM_16);
    EXPECT_EQ(info.frames, 0);
}

TEST_F(AIFFFileTest, SilenceIsTruncatedToWholeFrames)
{
    AIFFFile track(output, tone);
    track.appendSilence(0.04);
    EXPECT_EQ(track.length(), 0);
    track.appendSilence(0);
    EXPECT_EQ(track.length(), 0);
    track.appendSilence(1000);
    EXPECT_EQ(track.length(), 22050);
    // 10.5 ms is 231.525 frames.
    track.appendSilence(10.5);
    EXPECT_EQ(track.length(), 22050 + 231);
    // Longer than one write buffer.
    track.appendSilence(7000);
    EXPECT_EQ(track.length(), 22050 + 231 + 154350);
    EXPECT_THROW(track.appendSilence(-1), VSError);
    track.close();
    const std::vector<int> samples = samplesOf(output);
    EXPECT_EQ(samples.size(), size_t(22050 + 231 + 154350));
    EXPECT_TRUE(std::all_of(samples.begin(), samples.end(), [](int s) { return s == 0; }));
}

TEST_F(AIFFFileTest, AppendedAudioIsCopiedExactlyAfterSilence)
{
    const std::vector<int> original = samplesOf(tone);
    ASSERT_EQ(original.size(), size_t(11025));
    {
        AIFFFile track(output, tone);
        track.appendSilence(250);
        track.append(tone);
        EXPECT_NEAR(track.lengthMilliseconds(), 250 + AIFFFile::duration(tone),
                    track.millisecondsPerPacket);
        track.append(tone);
    }
    const std::vector<int> written = samplesOf(output);
    ASSERT_EQ(written.size(), size_t(5512 + 2 * 11025));
    EXPECT_TRUE(std::equal(original.begin(), original.end(), written.begin() + 5512));
    EXPECT_TRUE(std::equal(original.begin(), original.end(), written.begin() + 5512 + 11025));
    EXPECT_NEAR(AIFFFile::duration(output), 250 + 1000, 1000.0 / 22050);
}

TEST_F(AIFFFileTest, FloatingPointAndStereoFormatsRoundTrip)
{
    const QString stereo = folder.filePath(QStringLiteral("stereo.wav"));
    TestSupport::generateTone(stereo, 48000, 2, 0.25, QStringLiteral("pcm_f32le"), 1000);
    const QString wavTrack = folder.filePath(QStringLiteral("track.wav"));
    {
        AIFFFile track(wavTrack, stereo);
        track.appendSilence(1);
        track.append(stereo);
    }
    SF_INFO info{};
    SNDFILE *file = sf_open(QFile::encodeName(wavTrack).constData(), SFM_READ, &info);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(info.channels, 2);
    EXPECT_EQ(info.format & SF_FORMAT_SUBMASK, SF_FORMAT_FLOAT);
    EXPECT_EQ(info.frames, 48 + 12000);
    sf_close(file);
}

TEST_F(AIFFFileTest, FileInAnotherFormatIsRefusedAndTheTrackKeepsWhatItHad)
{
    const QString other = folder.filePath(QStringLiteral("other.aiff"));
    TestSupport::generateTone(other, 44100, 2, 0.1);
    {
        AIFFFile track(output, tone);
        track.append(tone);
        try {
            track.append(other);
            FAIL() << "a 44100 Hz stereo file was accepted";
        } catch (const VSError &error) {
            EXPECT_TRUE(error.message.contains(QStringLiteral("44100"))) << error.message;
        }
        EXPECT_EQ(track.length(), 11025);
    }
    EXPECT_EQ(samplesOf(output).size(), size_t(11025));
}

TEST_F(AIFFFileTest, LibraryFailuresCarryTheLibrarysMessage)
{
    const QString notAudio = folder.filePath(QStringLiteral("notes.txt"));
    TestSupport::writeFile(notAudio, "these are not samples");
    const QString missing = folder.filePath(QStringLiteral("missing.aiff"));
    for (const QString &sample : {missing, notAudio}) {
        try {
            AIFFFile track(output, sample);
            FAIL() << "created from " << sample;
        } catch (const VSError &error) {
            EXPECT_FALSE(error.message.isEmpty());
        }
    }
    try {
        AIFFFile track(folder.filePath(QStringLiteral("no folder/track.aiff")), tone);
        FAIL() << "created in a missing folder";
    } catch (const VSError &error) {
        EXPECT_FALSE(error.message.isEmpty());
    }
    AIFFFile track(output, tone);
    EXPECT_THROW(track.append(notAudio), VSError);
    EXPECT_EQ(track.length(), 0);
}

TEST_F(AIFFFileTest, DurationOfFilesThatCannotBeReadIsZero)
{
    EXPECT_EQ(AIFFFile::duration(folder.filePath(QStringLiteral("missing.aiff"))), 0);
    const QString notAudio = folder.filePath(QStringLiteral("notes.txt"));
    TestSupport::writeFile(notAudio, "text");
    EXPECT_EQ(AIFFFile::duration(notAudio), 0);
    EXPECT_NEAR(AIFFFile::duration(tone), 500, 0.001);
}

TEST_F(AIFFFileTest, ReplacesAnExistingFile)
{
    TestSupport::writeFile(output, QByteArray(100000, 'x'));
    {
        AIFFFile track(output, tone);
        track.appendSilence(100);
    }
    EXPECT_EQ(samplesOf(output).size(), size_t(2205));
}

// Speech workers hand their clips over in memory: the track must be the same bytes as one made
// of the clips' files.
TEST_F(AIFFFileTest, SamplesInMemoryMakeTheSameTrackAsTheirFile)
{
    std::vector<short> clip;
    for (const int sample : samplesOf(tone))
        clip.push_back(short(sample >> 16));
    const QString fromMemory = folder.filePath(QStringLiteral("memory.aiff"));
    {
        AIFFFile track(output, tone);
        track.appendSilence(100);
        track.append(tone);
        track.close();
        AIFFFile memory(fromMemory, 22050);
        memory.appendSilence(100);
        memory.append(clip, 22050);
        EXPECT_EQ(memory.length(), track.length());
        // Another rate is refused and leaves the track as it was.
        EXPECT_THROW(memory.append(clip, 16000), VSError);
        EXPECT_EQ(memory.length(), track.length());
        memory.close();
    }
    EXPECT_EQ(TestSupport::readFile(fromMemory), TestSupport::readFile(output));
}
