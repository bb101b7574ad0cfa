// Helper for bench/speech_track:
//   speech-track-bench generate CUES OUT.srt [SECONDS]
//                                                 a film-like SubRip file (about 4.8 s per cue, or
//                                                 the cues spread over SECONDS)
//   speech-track-bench summarize STATS.json       cues, passes and fitted cues of a speak run
//   speech-track-bench synthesize IN.srt STATS.json
//                                                 the synthesizer alone on the same passes
#include "Speech/SpeechSynthesizer.h"
#include "Speech/SpeechSynthesizerDelegate.h"
#include "Subtitles/SubtitlesParser.h"
#include "Subtitles/Utils.h"
#include "WorkingFolder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <cstdio>

namespace {

const char *const subjects[] = {"I",
                                "You",
                                "We",
                                "They",
                                "My brother",
                                "The captain",
                                "Your mother",
                                "Nobody here",
                                "The old man next door",
                                "Everyone in this town",
                                "She",
                                "He",
                                "The doctor",
                                "Our team"};
const char *const verbs[] = {"never told me about",
                             "wants to talk about",
                             "can't stop thinking about",
                             "found",
                             "is looking for",
                             "will remember",
                             "forgot",
                             "has been waiting for",
                             "doesn't care about",
                             "keeps asking about",
                             "saw",
                             "lost"};
const char *const objects[] = {"the money",
                               "that night at the lake",
                               "the letter",
                               "what happened last summer",
                               "the car",
                               "the keys to the house",
                               "your father",
                               "the plan",
                               "the little girl with the red coat",
                               "the truth",
                               "it",
                               "the way home",
                               "the last train out of the city",
                               "this place"};
const char *const interjections[] = {"Wait.",   "Listen to me.", "Come on!", "What?", "No, no, no.",
                                     "Really?", "Let's go.",     "Okay.",    "Hey!",  "I'm sorry."};

QString srtTime(qint64 ms)
{
    return Utils::fullTimeString(ms).replace(u'.', u',');
}

int generate(int count, const QString &path, double seconds)
{
    // Average distance between cue starts.
    const qint64 spacing = seconds > 0 ? qint64(seconds * 1000 / count) : 4800;
    QRandomGenerator random(20261207);
    QByteArray text;
    qint64 at = 2000;
    for (int i = 0; i < count; ++i) {
        QString line;
        if (random.bounded(5) == 0) {
            line = QString::fromUtf8(interjections[random.bounded(int(std::size(interjections)))]);
        } else {
            line = QStringLiteral("%1 %2 %3.")
                       .arg(QString::fromUtf8(subjects[random.bounded(int(std::size(subjects)))]),
                            QString::fromUtf8(verbs[random.bounded(int(std::size(verbs)))]),
                            QString::fromUtf8(objects[random.bounded(int(std::size(objects)))]));
        }
        const qsizetype words = line.count(u' ') + 1;
        // Subtitlers allow roughly 300 ms a word; one cue in eight is cut too short to be read
        // even at 300 words per minute.
        qint64 slot = 600 + words * 300 + random.bounded(600);
        if (random.bounded(8) == 0)
            slot = 300 + words * 80;
        slot = std::min(slot, spacing - 200);
        QString body = line;
        if (line.size() > 40) {
            const qsizetype middle = line.indexOf(u' ', line.size() / 2);
            if (middle > 0)
                body = line.left(middle) + u'\n' + line.mid(middle + 1);
        }
        text += QStringLiteral("%1\n%2 --> %3\n%4\n\n")
                    .arg(i + 1)
                    .arg(srtTime(at), srtTime(at + slot), body)
                    .toUtf8();
        const qint64 rest = spacing - slot > 200 ? spacing - slot : 200;
        at += slot + 100 + random.bounded(int(2 * rest - 200));
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        return 1;
    std::printf("%d cues, %.1f minutes\n", count, double(at) / 60000);
    return 0;
}

QJsonObject readStats(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

int summarize(const QString &statsPath)
{
    const QJsonObject stats = readStats(statsPath);
    qint64 passes = 0;
    for (const QJsonValue &value : stats[QStringLiteral("passes")].toArray())
        passes += value.toInt();
    std::printf("%d %lld %d\n", stats[QStringLiteral("cues")].toInt(), passes,
                stats[QStringLiteral("fitted")].toInt());
    return 0;
}

class Waiter : public SpeechSynthesizerDelegate {
public:
    void speechSynthesizerDidFinishSpeaking(SpeechSynthesizer &, bool) override { loop.quit(); }
    void speechSynthesizerDidEncounterError(SpeechSynthesizer &, qsizetype, const QString &,
                                            const QString &) override
    {}
    void speechSynthesizerDidEncounterSyncMessage(SpeechSynthesizer &, const QString &) override {}
    QEventLoop loop;
};

int synthesize(const QString &subtitlesPath, const QString &statsPath)
{
    const std::optional<SubtitlesParser> parser = SubtitlesParser::fromFile(subtitlesPath);
    const QJsonArray passes = readStats(statsPath)[QStringLiteral("passes")].toArray();
    std::unique_ptr<SpeechSynthesizer> synthesizer = SpeechSynthesizer::create();
    if (!parser || !synthesizer || passes.size() != parser->subtitles.size())
        return 1;
    Waiter waiter;
    synthesizer->setDelegate(&waiter);
    const QString file = WorkingFolder::filePath(QStringLiteral("utterance.aiff"));
    QElapsedTimer timer;
    timer.start();
    for (qsizetype i = 0; i < passes.size(); ++i) {
        const QString text = SubtitlesParser::plainText(parser->subtitles[i].text);
        for (int pass = 0; pass < passes[i].toInt(); ++pass) {
            synthesizer->setRate(float(200 + 20 * pass));
            synthesizer->startSpeaking(text, file);
            waiter.loop.exec();
        }
    }
    std::printf("%.3f\n", double(timer.nsecsElapsed()) / 1e9);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const QString command = args.value(1);
    if (command == QLatin1String("generate") && (args.size() == 4 || args.size() == 5))
        return generate(args[2].toInt(), args[3], args.value(4).toDouble());
    if (command == QLatin1String("summarize") && args.size() == 3)
        return summarize(args[2]);
    if (command == QLatin1String("synthesize") && args.size() == 4)
        return synthesize(args[2], args[3]);
    std::fprintf(
        stderr,
        "usage: speech-track-bench generate CUES OUT.srt [SECONDS] | summarize STATS.json | "
        "synthesize IN.srt STATS.json\n");
    return 2;
}
