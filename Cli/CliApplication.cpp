#include "CliApplication.h"

#include "CuesCommand.h"
#include "InterruptHandler.h"
#include "MakeCommand.h"
#include "OverlayCommand.h"
#include "ProbeCommand.h"
#include "SayCommand.h"
#include "SpeakCommand.h"
#include "Speech/SpeechEngine.h"
#include "SubtitlesCommand.h"
#include "VoicesCommand.h"

#include <QCoreApplication>

CliApplication::CliApplication()
{
    commands.push_back(std::make_unique<MakeCommand>());
    commands.push_back(std::make_unique<OverlayCommand>());
    commands.push_back(std::make_unique<CuesCommand>());
    commands.push_back(std::make_unique<VoicesCommand>());
    commands.push_back(std::make_unique<SayCommand>());
    commands.push_back(std::make_unique<SpeakCommand>());
    commands.push_back(std::make_unique<ProbeCommand>());
    commands.push_back(std::make_unique<SubtitlesCommand>());
}

int CliApplication::run(const QStringList &arguments)
{
    const QString first = arguments.value(1);
    if (first.isEmpty() || first == QLatin1String("--help") || first == QLatin1String("-h") ||
        first == QLatin1String("help")) {
        Command::printOut(usage());
        return first.isEmpty() ? 2 : 0;
    }
    if (first == QLatin1String("--version") || first == QLatin1String("-v")) {
        Command::printOut(versionText());
        return 0;
    }
    for (const std::unique_ptr<Command> &command : commands) {
        if (command->name() == first) {
            QStringList rest = arguments.mid(2);
            rest.prepend(arguments.value(0) + u' ' + first);
            const int status = command->run(rest);
            // A command that was interrupted says so in its status (128 + the signal); one that
            // finished its work before the signal was handled keeps its success.
            if (status != 0 && InterruptHandler::receivedSignal() != 0)
                return 128 + InterruptHandler::receivedSignal();
            return status;
        }
    }
    Command::printError(QStringLiteral("kelvorandix-cli: unknown command '%1'\n\n").arg(first) +
                        usage());
    return 2;
}

QString CliApplication::usage() const
{
    QString text = QStringLiteral("Usage: kelvorandix-cli COMMAND [OPTIONS]\n\n"
                                  "Gives a video a spoken voice track made from its subtitles.\n\n"
                                  "Commands:\n");
    for (const std::unique_ptr<Command> &command : commands)
        text += QStringLiteral("  %1  %2\n").arg(command->name(), -10).arg(command->summary());
    text += QStringLiteral("\nOptions:\n"
                           "  -h, --help     Show this help; COMMAND --help shows a command's.\n"
                           "  -v, --version  Show the version.\n");
    return text;
}

QString CliApplication::versionText() const
{
    QString text =
        QStringLiteral("kelvorandix-cli %1 (Qt %2)\n")
            .arg(QCoreApplication::applicationVersion(), QString::fromLatin1(qVersion()));
    for (const SpeechEngine *engine : SpeechEngine::engines()) {
        text += QStringLiteral("speech: %1 %2, ").arg(engine->name(), engine->version());
        text += engine->dataPath().isEmpty()
                    ? QStringLiteral("voices built in, ")
                    : QStringLiteral("voice data in %1, ").arg(engine->dataPath());
        text += engine->isAvailable() ? QStringLiteral("%1 Hz, %2 voices\n")
                                            .arg(engine->sampleRate())
                                            .arg(engine->voices().size())
                                      : engine->errorString() + u'\n';
    }
    return text;
}
