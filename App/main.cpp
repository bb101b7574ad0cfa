#include "AppDelegate.h"
#include "FileSystem.h"
#include "InstanceProbe.h"
#include "Settings/UserSettings.h"
#include "SingleInstance.h"
#include "Speech/SpeechWorker.h"
#include "WindowController.h"
#include "WorkingFolder.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QIcon>
#include <clocale>
#include <cstdio>

int main(int argc, char *argv[])
{
    // A speech job's worker process runs nothing else.
    if (const std::optional<int> status = SpeechWorker::serveIfAsked(argc, argv))
        return *status;
    const QStringList notes = FileSystem::settleEnvironment();
    QApplication app(argc, argv);
    for (const QString &note : notes)
        qWarning("%s", qUtf8Printable(note));
    // QApplication sets the C library's locale from the environment, and mpv refuses to start
    // unless numbers are read and printed the "C" way.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setApplicationName(QStringLiteral("Kelvorandix"));
    QApplication::setApplicationVersion(QStringLiteral(KELVORANDIX_VERSION));
    // The desktop file, the icon and the bus name share the application's identifier.
    QApplication::setDesktopFileName(SingleInstance::serviceName);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/org.kelvorandix.Kelvorandix.svg")));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Gives a video a spoken voice track made from its subtitles."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("FILE"),
                                 QStringLiteral("A video or subtitle file to open."),
                                 QStringLiteral("[FILE...]"));
    const QCommandLineOption atOption(QStringList{QStringLiteral("at")},
                                      QStringLiteral("Show the video at this time."),
                                      QStringLiteral("MS"));
    parser.addOption(atOption);
    parser.process(app);
    bool atValid = true;
    const qint64 at = parser.isSet(atOption) ? parser.value(atOption).toLongLong(&atValid) : 0;
    if (!atValid || at < 0) {
        std::fprintf(stderr, "kelvorandix: --at takes a time in milliseconds\n");
        return 2;
    }
    QStringList files;
    for (const QString &file : parser.positionalArguments())
        files.append(QFileInfo(file).absoluteFilePath());

    // A file opened from the file manager goes to the window the user already has.
    SingleInstance instance;
    if (instance.claim() == SingleInstance::Role::Another) {
        if (instance.handOver(files, at))
            return 0;
        // The running one has just ended, or hangs: this one runs, and answers if the name is
        // free again.
        instance.claim();
    }

    // What earlier runs that were killed could not clean up.
    WorkingFolder::removeStaleFolders();
    UserSettings &settings = UserSettings::shared();
    AppDelegate delegate(settings);
    QObject::connect(&instance, &SingleInstance::openRequested, &delegate, &AppDelegate::openFiles);
    QObject::connect(&instance, &SingleInstance::activateRequested, &delegate,
                     &AppDelegate::activateMainWindow);
    InstanceProbe probe(delegate);
    if (instance.role() == SingleInstance::Role::Running)
        probe.registerIfAsked();

    delegate.mainWindow()->show();
    // Opened as if the desktop had handed them over one by one, once the window is up.
    delegate.openFiles(files, at);
    return app.exec();
}
