#include "VideoPlayerView.h"
#include "WindowController.h"

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

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Plays a video with its subtitles drawn over the picture."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("VIDEO"), QStringLiteral("The video to open."));
    parser.addPositionalArgument(QStringLiteral("SUBTITLES"),
                                 QStringLiteral("A subtitle file to show over the video."),
                                 QStringLiteral("[SUBTITLES]"));
    const QCommandLineOption atOption(QStringList{QStringLiteral("at")},
                                      QStringLiteral("Open the video at this time."),
                                      QStringLiteral("MS"));
    parser.addOption(atOption);
    parser.process(app);

    const QStringList arguments = parser.positionalArguments();
    if (arguments.size() > 2) {
        std::fprintf(stderr, "kelvorandix: too many arguments\n");
        return 2;
    }
    bool atValid = true;
    const qint64 at = parser.isSet(atOption) ? parser.value(atOption).toLongLong(&atValid) : 0;
    if (!atValid || at < 0) {
        std::fprintf(stderr, "kelvorandix: --at takes a time in milliseconds\n");
        return 2;
    }

    WindowController window;
    window.show();
    if (!arguments.isEmpty()) {
        window.openVideo(arguments.at(0));
        if (arguments.size() == 2)
            window.openSubtitles(arguments.at(1));
        if (at > 0) {
            VideoPlayerView *view = window.playerView();
            auto connection = std::make_shared<QMetaObject::Connection>();
            *connection = QObject::connect(view->videoPlayer(), &MpvPlayer::fileLoaded, view,
                                           [view, at, connection] {
                                               QObject::disconnect(*connection);
                                               view->seek(at);
                                           });
        }
    }
    return app.exec();
}
