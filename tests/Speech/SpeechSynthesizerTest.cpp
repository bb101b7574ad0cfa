// The synthesizer layer over the real espeak-ng engine.
#include "Speech/SpeechSynthesizer.h"
#include "Speech/AIFFFile.h"
#include "Speech/CueFitting.h"
#include "Speech/SpeechSynthesizerDelegate.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSet>
#include <QThread>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <vector>

namespace {

const QString sentence =
    QStringLiteral("Every cue here is spoken by a synthetic voice, sped up until it fits.");

// Records every report with what was true when it arrived.
class Recorder : public SpeechSynthesizerDelegate {
public:
    struct Report {
        QString kind;
        bool finished = false;
        QString message;
        double fileDuration = 0;
        bool onMainThread = false;
    };

    void speechSynthesizerDidFinishSpeaking(SpeechSynthesizer &, bool finished) override
    {
        reports.append({QStringLiteral("finish"), finished, QString(),
                        file.isEmpty() ? 0 : AIFFFile::duration(file), isMainThread()});
    }
    void speechSynthesizerDidEncounterError(SpeechSynthesizer &, qsizetype, const QString &,
                                            const QString &message) override
    {
        reports.append({QStringLiteral("error"), false, message, 0, isMainThread()});
    }
    void speechSynthesizerDidEncounterSyncMessage(SpeechSynthesizer &,
                                                  const QString &message) override
    {
        reports.append({QStringLiteral("sync"), false, message, 0, isMainThread()});
    }

    int finishes() const
    {
        return int(std::count_if(reports.begin(), reports.end(), [](const Report &r) {
            return r.kind == QLatin1String("finish");
        }));
    }
    bool waitForFinishes(int count)
    {
        return TestSupport::waitUntil([&] { return finishes() >= count; });
    }

    static bool isMainThread() { return QThread::currentThread() == qApp->thread(); }

    QString file;
    QList<Report> reports;
};

std::unique_ptr<SpeechSynthesizer> englishSynthesizer()
{
    std::unique_ptr<SpeechSynthesizer> synthesizer =
        SpeechSynthesizer::create(QStringLiteral("gmw/en-US"));
    EXPECT_NE(synthesizer, nullptr);
    return synthesizer;
}

class SpeechSynthesizerTest : public ::testing::Test {
protected:
    QString path(const QString &name) const { return folder.filePath(name); }
    QTemporaryDir folder;
};

} // namespace

TEST(SpeechVoices, EveryLanguageOffersBothGendersWithSeveralNames)
{
    const QStringList voices = SpeechSynthesizer::availableVoices();
    ASSERT_GT(voices.size(), 1000);
    QHash<QString, QSet<QString>> namesByLocaleAndGender;
    for (const QString &voice : voices) {
        const std::optional<VoiceAttributes> attributes =
            SpeechSynthesizer::attributesForVoice(voice);
        ASSERT_TRUE(attributes.has_value()) << voice;
        EXPECT_FALSE(attributes->name.isEmpty()) << voice;
        EXPECT_FALSE(attributes->demoText.isEmpty()) << voice;
        ASSERT_FALSE(attributes->localeIdentifier.isEmpty()) << voice;
        const QString key = attributes->localeIdentifier + u'/' + attributes->gender;
        EXPECT_FALSE(namesByLocaleAndGender[key].contains(attributes->name))
            << key << attributes->name;
        namesByLocaleAndGender[key].insert(attributes->name);
    }
    for (const QString &locale : {QStringLiteral("en_US"), QStringLiteral("fr_FR"),
                                  QStringLiteral("ja"), QStringLiteral("cmn")}) {
        EXPECT_GE(namesByLocaleAndGender.value(locale + QStringLiteral("/Male")).size(), 3)
            << locale;
        EXPECT_GE(namesByLocaleAndGender.value(locale + QStringLiteral("/Female")).size(), 3)
            << locale;
    }
    const std::optional<VoiceAttributes> german =
        SpeechSynthesizer::attributesForVoice(QStringLiteral("gmw/de+Andrea"));
    ASSERT_TRUE(german.has_value());
    EXPECT_EQ(german->localeIdentifier, QStringLiteral("de"));
    EXPECT_EQ(german->gender, QStringLiteral("Female"));
    EXPECT_EQ(german->name, QStringLiteral("Andrea"));
    EXPECT_EQ(german->demoText, QStringLiteral("Hallo! So klingt meine Stimme."));
    EXPECT_FALSE(SpeechSynthesizer::attributesForVoice(QStringLiteral("no such voice")));
}

TEST(SpeechVoices, CreationNeedsAVoiceThatCanBeUsed)
{
    EXPECT_EQ(SpeechSynthesizer::create(QStringLiteral("gmw/xx")), nullptr);
    EXPECT_EQ(SpeechSynthesizer::create(QString()), nullptr);
    const std::unique_ptr<SpeechSynthesizer> byDefault = SpeechSynthesizer::create();
    ASSERT_NE(byDefault, nullptr);
    EXPECT_EQ(byDefault->voice(), SpeechSynthesizer::defaultVoice());
    const std::unique_ptr<SpeechSynthesizer> synthesizer = englishSynthesizer();
    synthesizer->setRate(237.5f);
    EXPECT_EQ(synthesizer->rate(), 237.5f);
    synthesizer->setVolume(0.5f);
    EXPECT_EQ(synthesizer->volume(), 0.5f);
    EXPECT_FALSE(synthesizer->isSpeaking());
}

TEST_F(SpeechSynthesizerTest, OneFinishPerUtteranceOnTheMainThreadAfterTheFileIsComplete)
{
    const std::unique_ptr<SpeechSynthesizer> synthesizer = englishSynthesizer();
    Recorder recorder;
    recorder.file = path(QStringLiteral("speech file.aiff"));
    TestSupport::writeFile(recorder.file, "an older file to be replaced");
    synthesizer->setDelegate(&recorder);
    synthesizer->setRate(200);
    synthesizer->startSpeaking(sentence, recorder.file);
    EXPECT_TRUE(synthesizer->isSpeaking());
    ASSERT_TRUE(recorder.waitForFinishes(1));
    EXPECT_FALSE(synthesizer->isSpeaking());
    // Nothing more arrives for the same utterance.
    TestSupport::waitUntil([] { return false; }, 300);
    ASSERT_EQ(recorder.reports.size(), 1);
    const Recorder::Report &report = recorder.reports.first();
    EXPECT_TRUE(report.finished);
    EXPECT_TRUE(report.onMainThread);
    EXPECT_GT(report.fileDuration, 2000);
    EXPECT_EQ(report.fileDuration, AIFFFile::duration(recorder.file));
    EXPECT_FALSE(QFile::exists(recorder.file + QStringLiteral(".partial")));
}

TEST_F(SpeechSynthesizerTest, EveryRateFrom200To300IsHonoured)
{
    const std::unique_ptr<SpeechSynthesizer> synthesizer = englishSynthesizer();
    Recorder recorder;
    synthesizer->setDelegate(&recorder);
    QList<double> durations;
    for (int rate = 200; rate <= 300; rate += 20) {
        const QString file = path(QStringLiteral("rate %1.aiff").arg(rate));
        synthesizer->setRate(float(rate));
        synthesizer->startSpeaking(sentence, file);
        ASSERT_TRUE(recorder.waitForFinishes(int(durations.size()) + 1));
        durations.append(AIFFFile::duration(file));
    }
    for (qsizetype i = 1; i < durations.size(); ++i)
        EXPECT_LT(durations[i], durations[i - 1]) << "rate " << 200 + 20 * i;
    // About as much faster as the rates say: 300 is one and a half times 200.
    EXPECT_LT(durations.last() / durations.first(), 0.8);
    EXPECT_GT(durations.last() / durations.first(), 0.55);
    std::printf("duration at 300 / at 200 words per minute: %.3f\n",
                durations.last() / durations.first());
}

TEST_F(SpeechSynthesizerTest, StoppingMidUtteranceReportsUnfinishedAndWritesNothing)
{
    const std::unique_ptr<SpeechSynthesizer> synthesizer = englishSynthesizer();
    Recorder recorder;
    recorder.file = path(QStringLiteral("stopped.aiff"));
    synthesizer->setDelegate(&recorder);
    QString longText;
    for (int i = 0; i < 400; ++i)
        longText += sentence + u' ';
    // Stopped before the engine takes it up, and while the engine is synthesizing it.
    for (int waitMs : {0, 40}) {
        recorder.reports.clear();
        synthesizer->startSpeaking(longText, recorder.file);
        TestSupport::waitUntil([] { return false; }, waitMs);
        synthesizer->stopSpeaking();
        ASSERT_TRUE(recorder.waitForFinishes(1));
        TestSupport::waitUntil([] { return false; }, 300);
        ASSERT_EQ(recorder.reports.size(), 1);
        EXPECT_FALSE(recorder.reports.first().finished);
        EXPECT_FALSE(QFile::exists(recorder.file));
        EXPECT_FALSE(QFile::exists(recorder.file + QStringLiteral(".partial")));
        EXPECT_FALSE(synthesizer->isSpeaking());
    }
}

TEST_F(SpeechSynthesizerTest, StartingAgainStopsTheUtteranceInProgress)
{
    const std::unique_ptr<SpeechSynthesizer> synthesizer = englishSynthesizer();
    Recorder recorder;
    synthesizer->setDelegate(&recorder);
    QString longText;
    for (int i = 0; i < 400; ++i)
        longText += sentence + u' ';
    synthesizer->startSpeaking(longText, path(QStringLiteral("first.aiff")));
    synthesizer->startSpeaking(QStringLiteral("Second."), path(QStringLiteral("second.aiff")));
    ASSERT_TRUE(recorder.waitForFinishes(2));
    EXPECT_FALSE(recorder.reports[0].finished);
    EXPECT_TRUE(recorder.reports[1].finished);
    EXPECT_FALSE(QFile::exists(path(QStringLiteral("first.aiff"))));
    EXPECT_GT(AIFFFile::duration(path(QStringLiteral("second.aiff"))), 0);
}

TEST_F(SpeechSynthesizerTest, FailuresReportAnErrorThenAnUnfinishedFinish)
{
    const std::unique_ptr<SpeechSynthesizer> synthesizer = englishSynthesizer();
    Recorder recorder;
    synthesizer->setDelegate(&recorder);
    synthesizer->startSpeaking(sentence, path(QStringLiteral("missing folder/speech.aiff")));
    ASSERT_TRUE(recorder.waitForFinishes(1));
    ASSERT_EQ(recorder.reports.size(), 2);
    EXPECT_EQ(recorder.reports[0].kind, QStringLiteral("error"));
    EXPECT_FALSE(recorder.reports[0].message.isEmpty());
    EXPECT_FALSE(recorder.reports[1].finished);
}

TEST_F(SpeechSynthesizerTest, SpeakingAloudEitherPlaysOrSaysWhyNot)
{
    const std::unique_ptr<SpeechSynthesizer> synthesizer = englishSynthesizer();
    Recorder recorder;
    synthesizer->setDelegate(&recorder);
    synthesizer->startSpeaking(QStringLiteral("Hi."));
    ASSERT_TRUE(recorder.waitForFinishes(1));
    if (recorder.reports.first().kind == QLatin1String("error")) {
        EXPECT_TRUE(
            recorder.reports.first().message.startsWith(QStringLiteral("Could not play speech: ")))
            << recorder.reports.first().message;
        EXPECT_FALSE(recorder.reports.last().finished);
    } else {
        EXPECT_TRUE(recorder.reports.first().finished);
    }
}

TEST_F(SpeechSynthesizerTest, NoReportReachesADelegateAfterItsSynthesizerIsGone)
{
    Recorder recorder;
    {
        std::unique_ptr<SpeechSynthesizer> synthesizer = englishSynthesizer();
        synthesizer->setDelegate(&recorder);
        synthesizer->startSpeaking(sentence, path(QStringLiteral("gone.aiff")));
    }
    // A second synthesizer's utterance runs after the first one's, so once it has finished the
    // first one's report would have arrived.
    Recorder other;
    const std::unique_ptr<SpeechSynthesizer> synthesizer = englishSynthesizer();
    synthesizer->setDelegate(&other);
    synthesizer->startSpeaking(QStringLiteral("Later."), path(QStringLiteral("later.aiff")));
    ASSERT_TRUE(other.waitForFinishes(1));
    TestSupport::waitUntil([] { return false; }, 100);
    EXPECT_TRUE(recorder.reports.isEmpty());
}

namespace {

const QStringList fliteVoices = {QStringLiteral("flite/slt"), QStringLiteral("flite/rms"),
                                 QStringLiteral("flite/awb"), QStringLiteral("flite/kal16")};

// Speaks text to a file and waits for it; the file's duration, or -1.
double spokenDuration(const QString &voice, float rate, const QString &text, const QString &file)
{
    const std::unique_ptr<SpeechSynthesizer> synthesizer = SpeechSynthesizer::create(voice);
    if (!synthesizer)
        return -1;
    Recorder recorder;
    synthesizer->setDelegate(&recorder);
    synthesizer->setRate(rate);
    synthesizer->startSpeaking(text, file);
    if (!recorder.waitForFinishes(1) || !recorder.reports.last().finished)
        return -1;
    return AIFFFile::duration(file);
}

double peak(const QString &file)
{
    SF_INFO info{};
    SNDFILE *sound = sf_open(QFile::encodeName(file).constData(), SFM_READ, &info);
    if (!sound)
        return -1;
    std::vector<short> samples(size_t(info.frames));
    sf_read_short(sound, samples.data(), info.frames);
    sf_close(sound);
    short highest = 0;
    for (short sample : samples)
        highest = std::max<short>(highest, short(std::abs(sample)));
    return highest;
}

} // namespace

TEST_F(SpeechSynthesizerTest, FliteVoicesSpeakToFilesWithTheSameReports)
{
    for (const QString &voice : fliteVoices) {
        const std::unique_ptr<SpeechSynthesizer> synthesizer = SpeechSynthesizer::create(voice);
        ASSERT_NE(synthesizer, nullptr) << voice;
        Recorder recorder;
        recorder.file = path(voice.section(u'/', 1) + QStringLiteral(".aiff"));
        TestSupport::writeFile(recorder.file, "an older file to be replaced");
        synthesizer->setDelegate(&recorder);
        synthesizer->setRate(200);
        synthesizer->startSpeaking(sentence, recorder.file);
        EXPECT_TRUE(synthesizer->isSpeaking());
        ASSERT_TRUE(recorder.waitForFinishes(1)) << voice;
        TestSupport::waitUntil([] { return false; }, 100);
        ASSERT_EQ(recorder.reports.size(), 1) << voice;
        EXPECT_TRUE(recorder.reports.first().finished) << voice;
        EXPECT_TRUE(recorder.reports.first().onMainThread);
        EXPECT_GT(recorder.reports.first().fileDuration, 2000) << voice;
        EXPECT_FALSE(QFile::exists(recorder.file + QStringLiteral(".partial")));
        EXPECT_GT(peak(recorder.file), 3000) << voice << ": hardly audible";

        // The same text gives the same samples; half the volume, half the loudness.
        const QString again = path(QStringLiteral("again.aiff"));
        EXPECT_EQ(spokenDuration(voice, 200, sentence, again),
                  recorder.reports.first().fileDuration);
        EXPECT_EQ(TestSupport::readFile(again), TestSupport::readFile(recorder.file)) << voice;
        synthesizer->setVolume(0.5f);
        synthesizer->startSpeaking(sentence, again);
        ASSERT_TRUE(recorder.waitForFinishes(2));
        EXPECT_NEAR(peak(again) / peak(recorder.file), 0.5, 0.01) << voice;
    }
    // A failure is an error report, then an unfinished finish.
    const std::unique_ptr<SpeechSynthesizer> synthesizer =
        SpeechSynthesizer::create(fliteVoices[0]);
    Recorder recorder;
    synthesizer->setDelegate(&recorder);
    synthesizer->startSpeaking(sentence, path(QStringLiteral("missing folder/speech.aiff")));
    ASSERT_TRUE(recorder.waitForFinishes(1));
    ASSERT_EQ(recorder.reports.size(), 2);
    EXPECT_EQ(recorder.reports[0].kind, QStringLiteral("error"));
    EXPECT_FALSE(recorder.reports[1].finished);
}

TEST_F(SpeechSynthesizerTest, StoppingFliteEndsTheUtteranceAtOnceAndWritesNothing)
{
    const std::unique_ptr<SpeechSynthesizer> synthesizer =
        SpeechSynthesizer::create(QStringLiteral("flite/slt"));
    ASSERT_NE(synthesizer, nullptr);
    Recorder recorder;
    recorder.file = path(QStringLiteral("stopped.aiff"));
    synthesizer->setDelegate(&recorder);
    // Minutes of synthesis if it were not stopped.
    QString longText;
    for (int i = 0; i < 400; ++i)
        longText += sentence + u' ';
    for (int waitMs : {0, 300}) {
        recorder.reports.clear();
        synthesizer->startSpeaking(longText, recorder.file);
        TestSupport::waitUntil([] { return false; }, waitMs);
        QElapsedTimer stopping;
        stopping.start();
        synthesizer->stopSpeaking();
        ASSERT_TRUE(recorder.waitForFinishes(1));
        EXPECT_LT(stopping.elapsed(), 3000) << "after " << waitMs << " ms";
        TestSupport::waitUntil([] { return false; }, 100);
        ASSERT_EQ(recorder.reports.size(), 1);
        EXPECT_FALSE(recorder.reports.first().finished);
        EXPECT_FALSE(QFile::exists(recorder.file));
        EXPECT_FALSE(QFile::exists(recorder.file + QStringLiteral(".partial")));
        EXPECT_FALSE(synthesizer->isSpeaking());
    }
}

// A rate means about the same words per minute on both engines, so that fitting cues into
// their slots works alike whichever voice speaks.
TEST_F(SpeechSynthesizerTest, FliteRatesGiveAboutEspeakNgsLengths)
{
    const QString text = QStringLiteral(
        "Where were you on the night of the fourteenth of March? The museum closes at six, so we "
        "only have an hour left to see everything. Thank you, I will remember this.");
    QHash<QString, double> at200;
    for (int rate : {200, 300}) {
        const double espeak = spokenDuration(QStringLiteral("gmw/en-US"), float(rate), text,
                                             path(QStringLiteral("espeak.aiff")));
        ASSERT_GT(espeak, 0);
        for (const QString &voice : fliteVoices) {
            const double flite =
                spokenDuration(voice, float(rate), text, path(QStringLiteral("flite.aiff")));
            EXPECT_NEAR(flite / espeak, 1.0, 0.1) << voice << " at " << rate;
            std::printf("%s at %d words per minute: %.0f ms, espeak-ng %.0f ms\n",
                        qPrintable(voice), rate, flite, espeak);
            if (rate == 200)
                at200.insert(voice, flite);
            else
                EXPECT_LT(flite / at200.value(voice), 0.75) << voice;
        }
    }
}

// Speech workers skip the rates an utterance already shows to be too slow, trusting a least
// ratio between the lengths of one text at two rates. Texts with long pauses, numbers and
// another language's voice are where espeak-ng shortens most.
TEST_F(SpeechSynthesizerTest, FasterRatesNeverShortenSpeechBelowTheLeastRatioTheFittingTrusts)
{
    const QList<std::pair<QString, QString>> cases = {
        {QStringLiteral("gmw/en-US"),
         QStringLiteral("Wait. No... Listen to me! It's 11:45, on the 3rd of May, 1987; you "
                        "said: \"never again\".")},
        {QStringLiteral("gmw/en-US"), QStringLiteral("Oh, come on, Sebastian, really?")},
        {QStringLiteral("sem/ar"),
         QStringLiteral("\u0623\u064a\u0646 \u0643\u0646\u062a \u0641\u064a \u062a\u0644\u0643 "
                        "\u0627\u0644\u0644\u064a\u0644\u0629\u061f \u0627\u0646\u062a\u0638\u0631 "
                        "\u0642\u0644\u064a\u0644\u0627\u064b.")},
        {QStringLiteral("flite/slt"),
         QStringLiteral("Wait. Listen to me! We only have an hour left to see everything.")},
    };
    for (const auto &[voice, text] : cases) {
        QMap<int, double> length;
        for (int rate = 200; rate <= 300; rate += 20)
            length[rate] = spokenDuration(voice, float(rate), text, path(QStringLiteral("r.aiff")));
        ASSERT_GE(length[200], CueFitting::shortestRatioMinimumMs) << voice;
        for (int from = 200; from < 300; from += 20)
            for (int to = from + 20; to <= 300; to += 20) {
                const std::optional<double> least =
                    CueFitting::shortestRatio(float(from), float(to), length[from]);
                if (length[from] < CueFitting::shortestRatioMinimumMs) {
                    EXPECT_FALSE(least);
                    continue;
                }
                ASSERT_TRUE(least) << from << " to " << to;
                EXPECT_GE(length[to], length[from] * *least)
                    << voice << " " << text.left(20) << ": " << from << " to " << to;
            }
    }
    // Only steps of the rule have a ratio.
    EXPECT_FALSE(CueFitting::shortestRatio(210, 240, 5000));
    EXPECT_FALSE(CueFitting::shortestRatio(240, 240, 5000));
    EXPECT_FALSE(CueFitting::shortestRatio(280, 320, 5000));
}
