#include "OverlayCommand.h"

#include "Audio/MicrophoneRecorder.h"
#include "ChainRunner.h"
#include "InterruptHandler.h"
#include "Jobs/MakeOutputChain.h"
#include "MakeCommand.h"
#include "Overlay/ItemAudioImport.h"
#include "Overlay/OverlaySpeechBatch.h"
#include "Overlay/Project.h"
#include "Overlay/ProjectSubtitles.h"
#include "Speech/AIFFFile.h"
#include "Speech/SpeechSynthesizer.h"
#include "Subtitles/SubtitlesParser.h"
#include "Subtitles/Utils.h"
#include "TerminalProgress.h"
#include "VSError.h"
#include "VideoProcessor/SubtitleSources.h"
#include "VideoProcessor/ToolRunner.h"
#include "VoiceChoice.h"
#include "WorkingFolder.h"

#include <QCommandLineParser>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

namespace {

// The speech batch's sheet on a terminal: each item on a line, alerts as errors.
class BatchLines : public OverlaySpeechBatch::Display {
public:
    explicit BatchLines(QEventLoop &loop)
        : loop(loop)
    {}
    void setLabel(const QString &text) override { Command::printError(text + u'\n'); }
    void setProgress(bool, double, double) override {}
    void closeSheet() override { loop.quit(); }
    void showAlert(const QString &title, const QString &message) override
    {
        failed = true;
        Command::printError(message.isEmpty() ? title + u'\n'
                                              : title + QStringLiteral(": ") + message + u'\n');
    }
    void reloadTable() override {}
    void refreshControls() override {}

    QEventLoop &loop;
    bool failed = false;
};

// Opens a project that exists; a file that is not one is refused and left untouched.
std::unique_ptr<Project> openProject(const QString &path,
                                     Project::OpenMode mode = Project::OpenMode::Existing)
{
    if (!Command::checkInputFile(path))
        return nullptr;
    try {
        return std::make_unique<Project>(path, mode);
    } catch (const VSError &error) {
        Command::printError(error.message + u'\n');
        return nullptr;
    }
}

// Opens a project that exists and has the item ID; otherwise says why and returns nothing.
std::unique_ptr<Project> openProjectWithItem(const QString &path, qint64 id)
{
    std::unique_ptr<Project> project = openProject(path);
    if (!project)
        return nullptr;
    const QList<ProjectItem> items = project->getAllItems();
    if (std::none_of(items.begin(), items.end(),
                     [&](const ProjectItem &item) { return item.id == id; })) {
        Command::printError(QStringLiteral("The project has no item %1\n").arg(id));
        return nullptr;
    }
    return project;
}

} // namespace

int OverlayCommand::run(const QStringList &arguments)
{
    const QString action = arguments.value(1);
    QStringList rest = arguments.mid(2);
    rest.prepend(arguments.value(0) + u' ' + action);
    if (action == QLatin1String("new"))
        return create(rest);
    if (action == QLatin1String("list"))
        return list(rest);
    if (action == QLatin1String("attach"))
        return attach(rest);
    if (action == QLatin1String("record"))
        return record(rest);
    if (action == QLatin1String("make"))
        return make(rest);
    if (action == QLatin1String("speak"))
        return speak(rest);
    if (action == QLatin1String("--help") || action == QLatin1String("-h")) {
        printOut(usage());
        return 0;
    }
    printError(QStringLiteral("overlay: unknown action '%1' (new, list, speak, attach, record, "
                              "make)\n")
                   .arg(action));
    return 2;
}

QString OverlayCommand::usage()
{
    return QStringLiteral(
        "Usage: kelvorandix-cli overlay ACTION PROJECT ...\n\n"
        "  new PROJECT --video VIDEO --subtitles FILE   a project with one item per cue\n"
        "  list PROJECT [--json]                        the items and their audio\n"
        "  speak PROJECT (--all | --item ID) [--voice ID]  items' audio by speech\n"
        "  attach PROJECT --item ID AUDIOFILE           an audio file as an item's audio\n"
        "  record PROJECT --item ID [--seconds S]       an item's audio from the microphone\n"
        "  make PROJECT [--video VIDEO] [--subtitles FILE] [make options]\n"
        "                                               the voiced video from the items\n");
}

int OverlayCommand::create(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption video(QStringLiteral("video"), QStringLiteral("The input video."),
                                   QStringLiteral("VIDEO"));
    const QCommandLineOption subtitles(QStringLiteral("subtitles"),
                                       QStringLiteral("Subtitles giving the items (any text "
                                                      "format and character set)."),
                                       QStringLiteral("FILE"));
    parser.addOptions({video, subtitles});
    parser.addPositionalArgument(QStringLiteral("PROJECT"), QStringLiteral("The project file."));
    int status = 0;
    if (!parseArguments(parser, arguments, status))
        return status;
    if (parser.positionalArguments().size() != 1 || !parser.isSet(video) ||
        !parser.isSet(subtitles)) {
        printError(
            QStringLiteral("overlay new: expected PROJECT --video VIDEO --subtitles FILE\n"));
        return 2;
    }
    const QString path = QFileInfo(parser.positionalArguments().first()).absoluteFilePath();
    if (QFileInfo::exists(path)) {
        // A project may hold recordings; it is never replaced behind the user's back.
        printError(QStringLiteral("'%1' already exists\n").arg(path));
        return 1;
    }
    const QString videoPath = QFileInfo(parser.value(video)).absoluteFilePath();
    if (!checkInputFile(videoPath) || !checkInputFile(parser.value(subtitles)) ||
        !checkTools({ToolRunner::ffmpegPath()}))
        return 1;
    const std::optional<QString> working = workingSubtitlesFile();
    if (!working)
        return 1;
    std::optional<SubtitlesParser> parsed;
    QString reason;
    if (SubtitleSources::convertSubtitlesFile(parser.value(subtitles), *working, &reason))
        parsed = SubtitlesParser::fromFile(*working);
    if (!parsed || parsed->subtitles.isEmpty()) {
        if (InterruptHandler::receivedSignal() == 0)
            printError(QStringLiteral("Could not parse subtitles") +
                       (reason.isEmpty() ? QString() : QStringLiteral(": ") + reason) + u'\n');
        return 1;
    }
    if (InterruptHandler::receivedSignal() != 0)
        return 1;
    try {
        // The app opens the project with the subtitles its items came from.
        if (!Project::createFromSubtitles(
                path, videoPath, QFileInfo(parser.value(subtitles)).absoluteFilePath(),
                parsed->subtitles, [] { return InterruptHandler::receivedSignal() != 0; }))
            return 1;
    } catch (const VSError &error) {
        printError(error.message + u'\n');
        return 1;
    }
    printOut(QStringLiteral("%1: %2 items\n").arg(path).arg(parsed->subtitles.size()));
    return 0;
}

int OverlayCommand::list(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption json(QStringLiteral("json"), QStringLiteral("Print JSON."));
    parser.addOption(json);
    parser.addPositionalArgument(QStringLiteral("PROJECT"), QStringLiteral("The project file."));
    int status = 0;
    if (!parseArguments(parser, arguments, status))
        return status;
    if (parser.positionalArguments().size() != 1) {
        printError(QStringLiteral("overlay list: expected one project file\n"));
        return 2;
    }
    const std::unique_ptr<Project> project =
        openProject(parser.positionalArguments().first(), Project::OpenMode::ReadOnly);
    if (!project)
        return 1;
    const QList<ProjectItem> items = project->getAllItems();
    if (interrupted())
        return 1;
    if (parser.isSet(json)) {
        QJsonArray array;
        for (const ProjectItem &item : items) {
            if (array.size() % 1024 == 0 && interrupted())
                return 1;
            array.append(QJsonObject{
                {QStringLiteral("row"), item.row},
                {QStringLiteral("id"), item.id},
                {QStringLiteral("text"), item.text},
                {QStringLiteral("start"), Utils::shortTimeString(item.start)},
                {QStringLiteral("end"), Utils::shortTimeString(item.end)},
                {QStringLiteral("length"), Utils::shortTimeString(qint64(item.end) - item.start)},
                {QStringLiteral("audio"), Utils::shortTimeString(item.audioDuration)},
                {QStringLiteral("hasAudio"), item.audioDuration > 0},
            });
        }
        return printOutUntilInterrupted(QString::fromUtf8(QJsonDocument(array).toJson())) ? 0 : 1;
    }
    QString text = QStringLiteral("%1  %2  %3  %4  %5  %6  %7\n")
                       .arg(QStringLiteral("Row"), -4)
                       .arg(QStringLiteral("Id"), -4)
                       .arg(QStringLiteral("Start"), -12)
                       .arg(QStringLiteral("End"), -12)
                       .arg(QStringLiteral("Length"), -12)
                       .arg(QStringLiteral("Audio"), -12)
                       .arg(QStringLiteral("Text"));
    for (const ProjectItem &item : items) {
        if (item.row % 1024 == 0 && interrupted())
            return 1;
        text += QStringLiteral("%1  %2  %3  %4  %5  %6  %7\n")
                    .arg(item.row, -4)
                    .arg(item.id, -4)
                    .arg(Utils::shortTimeString(item.start), -12)
                    .arg(Utils::shortTimeString(item.end), -12)
                    .arg(Utils::shortTimeString(qint64(item.end) - item.start), -12)
                    .arg(item.audioDuration > 0 ? Utils::shortTimeString(item.audioDuration)
                                                : QStringLiteral("-"),
                         -12)
                    .arg(item.text);
    }
    return printOutUntilInterrupted(text) ? 0 : 1;
}

int OverlayCommand::attach(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption itemOption(QStringLiteral("item"), QStringLiteral("The item's id."),
                                        QStringLiteral("ID"));
    parser.addOption(itemOption);
    parser.addPositionalArgument(QStringLiteral("PROJECT"), QStringLiteral("The project file."));
    parser.addPositionalArgument(QStringLiteral("AUDIOFILE"), QStringLiteral("Any audio file."));
    int status = 0;
    if (!parseArguments(parser, arguments, status))
        return status;
    const std::optional<qint64> id = SubtitlesParser::parseInteger(parser.value(itemOption));
    if (parser.positionalArguments().size() != 2 || !id) {
        printError(QStringLiteral("overlay attach: expected PROJECT --item ID AUDIOFILE\n"));
        return 2;
    }
    const std::unique_ptr<Project> project =
        openProjectWithItem(parser.positionalArguments().first(), *id);
    if (!project)
        return 1;
    const QString audio = parser.positionalArguments().at(1);
    if (!checkInputFile(audio) || !checkTools({ToolRunner::ffmpegPath()}))
        return 1;
    const ItemAudioImport::Result imported = ItemAudioImport::run(*project, int(*id), audio);
    if (!imported.failure.isEmpty()) {
        printError((imported.detail.isEmpty()
                        ? QStringLiteral("Could not read the audio of '%1'").arg(audio)
                        : imported.detail) +
                   u'\n');
        return 1;
    }
    printOut(
        QStringLiteral("item %1: %2\n").arg(*id).arg(Utils::shortTimeString(imported.duration)));
    return 0;
}

int OverlayCommand::record(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption itemOption(QStringLiteral("item"), QStringLiteral("The item's id."),
                                        QStringLiteral("ID"));
    const QCommandLineOption secondsOption(
        QStringLiteral("seconds"),
        QStringLiteral("Stop after S seconds; without it the recording runs until Ctrl-C. Ctrl-C "
                       "(or SIGTERM) ends the recording early: what was recorded is stored as "
                       "the item's audio and the exit status is 0."),
        QStringLiteral("S"));
    parser.addOptions({itemOption, secondsOption});
    parser.addPositionalArgument(QStringLiteral("PROJECT"), QStringLiteral("The project file."));
    int status = 0;
    if (!parseArguments(parser, arguments, status))
        return status;
    const std::optional<qint64> id = SubtitlesParser::parseInteger(parser.value(itemOption));
    std::optional<double> seconds;
    if (parser.isSet(secondsOption)) {
        bool number = false;
        seconds = parser.value(secondsOption).toDouble(&number);
        // A day at most keeps the timer's milliseconds in range.
        if (!number || !(*seconds > 0) || *seconds > 86400)
            seconds.reset();
    }
    if (parser.positionalArguments().size() != 1 || !id ||
        (parser.isSet(secondsOption) && !seconds)) {
        printError(QStringLiteral("overlay record: expected PROJECT --item ID [--seconds S], S a "
                                  "number of seconds greater than 0\n"));
        return 2;
    }
    const std::unique_ptr<Project> project =
        openProjectWithItem(parser.positionalArguments().first(), *id);
    if (!project)
        return 1;
    QString file;
    try {
        file = WorkingFolder::overlayAudioFile();
    } catch (const VSError &error) {
        printError(error.message + u'\n');
        return 1;
    }
    QFile::remove(file);

    MicrophoneRecorder recorder;
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    limit.setTimerType(Qt::PreciseTimer);
    QObject::connect(&limit, &QTimer::timeout, &recorder, &MicrophoneRecorder::stopRecording);
    bool started = false;
    QString failure;
    QObject::connect(&recorder, &MicrophoneRecorder::started, &loop, [&] {
        started = true;
        if (seconds) {
            limit.start(int(*seconds * 1000));
            printError(QStringLiteral("Recording item %1 for %2 s (Ctrl-C stops and keeps it)\n")
                           .arg(*id)
                           .arg(*seconds));
        } else {
            printError(QStringLiteral("Recording item %1 (Ctrl-C stops and keeps it)\n").arg(*id));
        }
    });
    QObject::connect(&recorder, &MicrophoneRecorder::failedToStart, &loop,
                     [&](const QString &reason) {
                         failure = QStringLiteral("Could not initialize audio recorder: ") + reason;
                         loop.quit();
                     });
    QObject::connect(&recorder, &MicrophoneRecorder::finished, &loop, [&](const QString &error) {
        if (!error.isEmpty())
            failure = QStringLiteral("Error while recording audio: ") + error;
        loop.quit();
    });
    // The user ends the recording on purpose: what was recorded is kept.
    if (InterruptHandler::whenInterrupted(&loop, [&] { recorder.stopRecording(); }))
        return 1;
    recorder.startRecording(file);
    loop.exec();

    // Interrupted before the recording began: nothing to report but the signal.
    if (!started && InterruptHandler::receivedSignal() != 0)
        return 1;
    if (!failure.isEmpty()) {
        printError(failure + u'\n');
        return 1;
    }
    // An empty recording would take the place of the item's audio and read as "no audio".
    if (AIFFFile::duration(file) < 1) {
        printError(
            QStringLiteral("Nothing was recorded; item %1 keeps the audio it had\n").arg(*id));
        return 1;
    }
    try {
        const int duration = project->saveItemAudioFile(int(*id), file);
        printOut(QStringLiteral("item %1: %2\n").arg(*id).arg(Utils::shortTimeString(duration)));
    } catch (const VSError &error) {
        printError(QStringLiteral("Error while saving audio: ") + error.message + u'\n');
        return 1;
    }
    return 0;
}

int OverlayCommand::make(const QStringList &arguments)
{
    // The make options are those of the main job; the project takes the place of the speech.
    // PROJECT comes first; --video, when given, replaces the project's own input video.
    const QString projectPath = arguments.value(1);
    if (projectPath == QLatin1String("--help") || projectPath == QLatin1String("-h")) {
        printOut(QStringLiteral("Usage: kelvorandix-cli overlay make PROJECT [--video VIDEO] "
                                "[--subtitles FILE] [the options of make]\n\n"
                                "Makes the voiced video from the items' audio: each item's audio "
                                "at its start time,\nan item that runs long delaying the next. "
                                "The project's own input video is used\nunless --video is "
                                "given. The other options are those of 'make' (see make "
                                "--help),\namong them --duck and --loudness for the mix.\n"));
        return 0;
    }
    if (projectPath.isEmpty() || projectPath.startsWith(u'-')) {
        printError(QStringLiteral("Usage: kelvorandix-cli overlay make PROJECT [--video VIDEO] "
                                  "[--subtitles FILE] [the options of make]\n"));
        return 2;
    }
    QString video;
    QStringList kept{arguments.value(0)};
    for (qsizetype i = 2; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        if (argument == QLatin1String("--video") && i + 1 < arguments.size())
            video = arguments[++i];
        else if (argument.startsWith(QLatin1String("--video=")))
            video = argument.mid(8);
        else
            kept.append(argument);
    }
    const std::unique_ptr<Project> project = openProject(projectPath);
    if (!project)
        return 1;
    if (!project->hasItemsWithAudio()) {
        printError(QStringLiteral("Could not make the output video: no item of the project has "
                                  "audio\n"));
        return 1;
    }
    if (video.isEmpty())
        video = project->inputVideo();
    if (video.isEmpty()) {
        printError(QStringLiteral("The project names no input video; give one with --video\n"));
        return 1;
    }
    // A path, whatever it looks like: a stored "--help" is a file name, not an option of make.
    video = QFileInfo(video).absoluteFilePath();
    // The output command reads the working subtitles file; without subtitles of its own the
    // project's items are written there.
    const bool subtitlesGiven = std::any_of(kept.begin(), kept.end(), [](const QString &a) {
        for (const QLatin1String option :
             {QLatin1String("--subtitles"), QLatin1String("--subtitles-stream")})
            if (a == option || a.startsWith(option + u'='))
                return true;
        return false;
    });
    if (!subtitlesGiven) {
        const QString items = WorkingFolder::filePath(QStringLiteral("project items.srt"));
        const QByteArray text = ProjectSubtitles::subRip(project->getAllItems());
        QFile file(items);
        if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size()) {
            printError(QStringLiteral("Could not write the working subtitles\n"));
            return 1;
        }
        file.close();
        kept << QStringLiteral("--subtitles") << items;
    }
    kept << QStringLiteral("--project") << project->projectFile;
    kept.insert(1, video);
    return MakeCommand().run(kept);
}

int OverlayCommand::speak(const QStringList &arguments)
{
    QCommandLineParser parser;
    const QCommandLineOption all(QStringLiteral("all"), QStringLiteral("Speak every item."));
    const QCommandLineOption itemOption(QStringLiteral("item"), QStringLiteral("Speak this item."),
                                        QStringLiteral("ID"));
    const QCommandLineOption voice(QStringLiteral("voice"),
                                   QStringLiteral("Voice identifier; by default the stored voice "
                                                  "choice."),
                                   QStringLiteral("ID"));
    parser.addOptions({all, itemOption, voice, jobsOption()});
    parser.addPositionalArgument(QStringLiteral("PROJECT"), QStringLiteral("The project file."));
    int status = 0;
    if (!parseArguments(parser, arguments, status))
        return status;
    if (parser.positionalArguments().size() != 1 || parser.isSet(all) == parser.isSet(itemOption)) {
        printError(
            QStringLiteral("overlay speak: expected PROJECT and either --all or --item ID\n"));
        return 2;
    }
    const std::optional<int> workers = jobs(parser, QStringLiteral("overlay speak"));
    if (!workers)
        return 2;
    const std::unique_ptr<Project> project = openProject(parser.positionalArguments().first());
    if (!project || !checkTools({ToolRunner::ffmpegPath()}))
        return 1;
    QList<ProjectItem> items = project->getAllItems();
    int selectedRow = items.isEmpty() ? -1 : 0;
    if (parser.isSet(itemOption)) {
        const std::optional<qint64> id = SubtitlesParser::parseInteger(parser.value(itemOption));
        const auto found = std::find_if(items.begin(), items.end(), [&](const ProjectItem &item) {
            return id && item.id == *id;
        });
        if (found == items.end()) {
            printError(
                QStringLiteral("The project has no item %1\n").arg(parser.value(itemOption)));
            return 1;
        }
        selectedRow = found->row;
    }

    std::optional<QString> chosen = VoiceChoice::resolve(
        parser.isSet(voice) ? std::optional<QString>(parser.value(voice)) : std::nullopt);
    if (!chosen)
        chosen = SpeechSynthesizer::defaultVoice();
    QEventLoop loop;
    BatchLines lines(loop);
    OverlaySpeechBatch batch(*project, items, lines);
    batch.setJobs(*workers);
    if (InterruptHandler::whenInterrupted(&loop, [&] { batch.cancelButtonClicked(); }))
        return 1;
    if (parser.isSet(all))
        batch.allItemsButtonClicked(selectedRow, chosen);
    else
        batch.selectedItemButtonClicked(selectedRow, chosen);
    if (batch.isRunning())
        loop.exec();
    if (InterruptHandler::receivedSignal() != 0)
        return 1;
    return lines.failed ? 1 : 0;
}
