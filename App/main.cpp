#include "AppDelegate.h"
#include "InstanceProbe.h"
#include "Settings/UserSettings.h"
#include "SingleInstance.h"
#include "VideoPlayerView.h"
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
    QApplication app(argc, argv);
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
        if (instance.handOver(files))
            return 0;
        // The running one has just ended, or hangs: this one runs, and answers if the name is
        // free again.
        instance.claim();
    }

    // What earlier runs that were killed could not clean up.
    WorkingFolder::removeStaleFolders();
    UserSettings &settings = UserSettings::shared();
    // Stored before the window exists, the first file is opened by the main view as it loads;
    // the others come after it, as if handed over one by one.
    if (!files.isEmpty())
        settings.setString(UserSettings::fileOpenedWithFinderKey, files.first());
    AppDelegate delegate(settings);
    QObject::connect(&instance, &SingleInstance::openRequested, &delegate, &AppDelegate::openFile);
    QObject::connect(&instance, &SingleInstance::activateRequested, &delegate,
                     &AppDelegate::activateMainWindow);
    InstanceProbe probe(delegate);
    if (instance.role() == SingleInstance::Role::Running)
        probe.registerIfAsked();

    delegate.mainWindow()->show();
    for (const QString &file : files.mid(1))
        delegate.openFile(file);
    if (at > 0) {
        VideoPlayerView *view = delegate.mainWindow()->playerView();
        QObject::connect(
            view->videoPlayer(), &MpvPlayer::fileLoaded, view, [view, at] { view->seek(at); },
            Qt::SingleShotConnection);
    }
    return app.exec();
}
