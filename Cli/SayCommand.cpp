#include "SayCommand.h"

#include "InterruptHandler.h"
#include "Speech/AIFFFile.h"
#include "Speech/SpeechSynthesizer.h"
#include "Speech/SpeechSynthesizerDelegate.h"

#include <QCommandLineParser>
#include <QEventLoop>
#include <QFileInfo>

namespace {

class SayDelegate : public SpeechSynthesizerDelegate {
public:
    explicit SayDelegate(QEventLoop &loop)
        : loop(loop)
    {}
    void speechSynthesizerDidFinishSpeaking(SpeechSynthesizer &, bool finished) override
    {
        this->finished = finished;
        loop.quit();
    }
    void speechSynthesizerDidEncounterError(SpeechSynthesizer &, qsizetype, const QString &,
                                            const QString &message) override
    {
        error = message;
    }
    void speechSynthesizerDidEncounterSyncMessage(SpeechSynthesizer &,
                                                  const QString &message) override
    {
        error = message;
    }

    QEventLoop &loop;
    bool finished = false;
    QString error;
};

} // namespace

int SayCommand::run(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption voice(QStringLiteral("voice"),
                                   QStringLiteral("Voice identifier (see 'voices')."),
                                   QStringLiteral("ID"));
    const QCommandLineOption rate(QStringLiteral("rate"),
                                  QStringLiteral("Speaking rate in words per minute."),
                                  QStringLiteral("WPM"));
    const QCommandLineOption out(QStringLiteral("out"),
                                 QStringLiteral("Write the speech to this AIFF file."),
                                 QStringLiteral("FILE"));
    parser.addOptions({voice, rate, out});
    parser.addPositionalArgument(QStringLiteral("TEXT"), QStringLiteral("The text to speak."));
    int status = 0;
    if (!parseArguments(parser, arguments, status))
        return status;
    const QString text = parser.positionalArguments().join(u' ');
    if (text.isEmpty()) {
        printError(QStringLiteral("say: nothing to say\n"));
        return 2;
    }
    bool rateOk = true;
    const double wordsPerMinute = parser.isSet(rate) ? parser.value(rate).toDouble(&rateOk) : 0;
    // Written as a range so that a rate that is not a number fails it too.
    if (!rateOk || (parser.isSet(rate) && !(wordsPerMinute >= SpeechSynthesizer::minimumRate &&
                                            wordsPerMinute <= SpeechSynthesizer::maximumRate))) {
        printError(QStringLiteral("say: --rate takes a number of words per minute from %1 to %2\n")
                       .arg(SpeechSynthesizer::minimumRate)
                       .arg(SpeechSynthesizer::maximumRate));
        return 2;
    }

    const QString voiceIdentifier =
        parser.isSet(voice) ? parser.value(voice) : SpeechSynthesizer::defaultVoice();
    std::unique_ptr<SpeechSynthesizer> synthesizer = SpeechSynthesizer::create(voiceIdentifier);
    if (!synthesizer) {
        const SpeechEngine &engine = SpeechEngine::forVoice(voiceIdentifier);
        printError((engine.isAvailable()
                        ? QStringLiteral("Could not initialize the specified voice")
                        : engine.errorString()) +
                   u'\n');
        return 1;
    }

    QEventLoop loop;
    SayDelegate delegate(loop);
    if (InterruptHandler::whenInterrupted(&loop, [&] { synthesizer->stopSpeaking(); }))
        return 1;
    synthesizer->setDelegate(&delegate);
    synthesizer->setVolume(1.0f);
    if (parser.isSet(rate))
        synthesizer->setRate(float(wordsPerMinute));
    const QString file =
        parser.isSet(out) ? QFileInfo(parser.value(out)).absoluteFilePath() : QString();
    if (file.isEmpty())
        synthesizer->startSpeaking(text);
    else
        synthesizer->startSpeaking(text, file);
    loop.exec();

    if (InterruptHandler::receivedSignal() != 0)
        return 1;
    if (!delegate.error.isEmpty()) {
        printError(delegate.error + u'\n');
        return 1;
    }
    if (!delegate.finished) {
        printError(QStringLiteral("Speaking stopped\n"));
        return 1;
    }
    if (!file.isEmpty())
        printOut(QStringLiteral("%1: %2 ms\n").arg(file).arg(qRound64(AIFFFile::duration(file))));
    return 0;
}
