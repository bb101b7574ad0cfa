#include "AppDelegate.h"
#include "Settings/UserSettings.h"
#include "VideoPlayerView.h"
#include "WindowController.h"
#include "WorkingFolder.h"

#include <QApplication>
#include <QCommandLineParser>
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
    QApplication::setDesktopFileName(QStringLiteral("kelvorandix"));

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

    // What earlier runs that were killed could not clean up.
    WorkingFolder::removeStaleFolders();
    AppDelegate delegate(UserSettings::shared());
    delegate.mainWindow()->show();
    for (const QString &file : parser.positionalArguments())
        delegate.openFile(file);
    if (at > 0) {
        VideoPlayerView *view = delegate.mainWindow()->playerView();
        auto connection = std::make_shared<QMetaObject::Connection>();
        *connection = QObject::connect(view->videoPlayer(), &MpvPlayer::fileLoaded, view,
                                       [view, at, connection] {
                                           QObject::disconnect(*connection);
                                           view->seek(at);
                                       });
    }
    return app.exec();
}
