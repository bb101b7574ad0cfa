// Kelvorandix as a user gets it: installed by cmake into a prefix of its own, the desktop's files
// checked by the desktop's own validators, and the installed command line run from another folder.
#include "TestSupport.h"
#include "VideoProcessor/ContainerFormats.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMimeDatabase>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QString appId = QStringLiteral("org.kelvorandix.Kelvorandix");

// The MIME types the desktop file says the app opens.
QStringList desktopMimeTypes(const QString &desktopFile)
{
    const QString text = QString::fromUtf8(TestSupport::readFile(desktopFile));
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("^MimeType=(.*)$"), QRegularExpression::MultilineOption)
            .match(text);
    return match.captured(1).split(u';', Qt::SkipEmptyParts);
}

} // namespace

TEST(Install, TheInstalledAppIsCompleteValidAndRunsFromAnyFolder)
{
    QTemporaryDir folder;
    // Installed in one place and then moved to another: whatever the programs look for, they find
    // beside themselves, not where they were built or first installed.
    const QString installed = folder.filePath(QStringLiteral("installed"));
    TestSupport::runProgram(QStringLiteral("cmake"),
                            {QStringLiteral("--install"), QStringLiteral(KELVORANDIX_BINARY_DIR),
                             QStringLiteral("--prefix"), installed},
                            300000);
    const QString prefix = folder.filePath(QStringLiteral("moved/usr"));
    ASSERT_TRUE(QDir().mkpath(folder.filePath(QStringLiteral("moved"))));
    ASSERT_TRUE(QDir().rename(installed, prefix));

    const QString desktopFile =
        prefix + QStringLiteral("/share/applications/%1.desktop").arg(appId);
    const QString metainfo = prefix + QStringLiteral("/share/metainfo/%1.metainfo.xml").arg(appId);
    for (const QString &file :
         {QStringLiteral("/bin/kelvorandix"), QStringLiteral("/bin/kelvorandix-cli"),
          QStringLiteral("/share/icons/hicolor/scalable/apps/%1.svg").arg(appId),
          QStringLiteral("/share/man/man1/kelvorandix-cli.1"),
          // Where the app's Help and About look for them, beside bin/.
          QStringLiteral("/share/kelvorandix/docs/user-guide.html"),
          QStringLiteral("/share/kelvorandix/docs/acknowledgments.html")})
        EXPECT_TRUE(QFileInfo(prefix + file).isFile()) << file;
    EXPECT_TRUE(QFileInfo(prefix + QStringLiteral("/bin/kelvorandix")).isExecutable());

    // The desktop's validators: no error, and no warning either.
    const TestSupport::ProcessResult desktop =
        TestSupport::runProgram(QStringLiteral("desktop-file-validate"), {desktopFile});
    EXPECT_EQ(QString::fromUtf8(desktop.out + desktop.err), QString());
    TestSupport::runProgram(QStringLiteral("appstreamcli"),
                            {QStringLiteral("validate"), QStringLiteral("--no-net"), metainfo});
    // The metainfo, desktop file and icon together, as a software centre reads an install.
    TestSupport::runProgram(QStringLiteral("appstreamcli"),
                            {QStringLiteral("validate-tree"), QStringLiteral("--no-net"), prefix});

    // Every file type the app opens is offered to the desktop: each container of the table and
    // each subtitle format, by any of the types the MIME database gives its extension.
    const QStringList offered = desktopMimeTypes(desktopFile);
    QStringList extensions = ContainerFormats::videoFileTypes();
    extensions << QStringLiteral("srt") << QStringLiteral("ass") << QStringLiteral("ssa")
               << QStringLiteral("vtt");
    const QMimeDatabase database;
    for (const QString &extension : extensions) {
        QStringList types;
        for (const QMimeType &type :
             database.mimeTypesForFileName(QStringLiteral("file.") + extension))
            types.append(type.name());
        EXPECT_TRUE(std::any_of(types.begin(), types.end(),
                                [&](const QString &type) { return offered.contains(type); }))
            << extension.toStdString() << " (" << types.join(u' ').toStdString()
            << ") is not in the desktop file";
    }

    // The project file type: the desktop file offers it, and the MIME database takes its
    // definition and gives .s2s files that type.
    EXPECT_TRUE(offered.contains(QStringLiteral("application/x-kelvorandix-project")));
    const QString mime = prefix + QStringLiteral("/share/mime");
    EXPECT_TRUE(QFileInfo(mime + QStringLiteral("/packages/%1.xml").arg(appId)).isFile());
    const TestSupport::ProcessResult updated =
        TestSupport::runProgram(QStringLiteral("update-mime-database"), {mime});
    EXPECT_EQ(updated.exitCode, 0) << updated.err.toStdString();
    EXPECT_TRUE(TestSupport::readFile(mime + QStringLiteral("/globs2"))
                    .contains(":application/x-kelvorandix-project:*.s2s"));

    // The screenshots the metainfo names are those of the repository.
    const QString meta = QString::fromUtf8(TestSupport::readFile(metainfo));
    QRegularExpressionMatchIterator images =
        QRegularExpression(QStringLiteral("<image>[^<]*/([^/<]+)</image>")).globalMatch(meta);
    int screenshots = 0;
    while (images.hasNext()) {
        const QString name = images.next().captured(1);
        ++screenshots;
        EXPECT_TRUE(
            QFileInfo::exists(QStringLiteral(KELVORANDIX_SOURCE_DIR "/docs/screenshots/") + name))
            << name;
    }
    EXPECT_GE(screenshots, 1);
    // The version the software centre and the manual page show is the one the programs report.
    EXPECT_TRUE(meta.contains(QStringLiteral("<release version=\"" KELVORANDIX_VERSION "\"")));
    EXPECT_TRUE(TestSupport::readFile(prefix + QStringLiteral("/share/man/man1/kelvorandix-cli.1"))
                    .contains("\"Kelvorandix " KELVORANDIX_VERSION "\""));

    // The installed command line, run from a folder of its own on a video made there.
    const QString work = folder.filePath(QStringLiteral("work"));
    ASSERT_TRUE(QDir().mkpath(work + QStringLiteral("/out")));
    TestSupport::writeFile(work + QStringLiteral("/cues.srt"),
                           "1\n00:00:00,500 --> 00:00:02,500\nHello from the installed tool.\n");
    TestSupport::ffmpeg("-f lavfi -i testsrc=d=3:s=160x120 -f lavfi -i "
                        "sine=frequency=220:duration=3 -c:v libx264 -c:a aac -shortest %1",
                        {work + QStringLiteral("/film.mp4")});
    const TestSupport::ProcessResult made = TestSupport::runIn(
        work, prefix + QStringLiteral("/bin/kelvorandix-cli"),
        {QStringLiteral("make"), QStringLiteral("film.mp4"), QStringLiteral("--subtitles"),
         QStringLiteral("cues.srt"), QStringLiteral("--voice"), QStringLiteral("gmw/en-US"),
         QStringLiteral("--output-dir"), QStringLiteral("out"),
         QStringLiteral("--new-audio-stream"), QStringLiteral("--no-maximize-volume")},
        {QStringLiteral("KELVORANDIX_SETTINGS=") + work + QStringLiteral("/settings.ini")});
    ASSERT_EQ(made.exitCode, 0) << made.err.toStdString();
    const QString output = QString::fromUtf8(made.out).trimmed();
    ASSERT_TRUE(QFileInfo(output).isFile()) << output;
    EXPECT_EQ(QFileInfo(output).absolutePath(), work + QStringLiteral("/out"));
    // The new stream's language tag comes from the language table the program carries.
    const TestSupport::ProcessResult probe = TestSupport::runProgram(
        QStringLiteral("ffprobe"),
        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-select_streams"),
         QStringLiteral("a"), QStringLiteral("-show_streams"), QStringLiteral("-of"),
         QStringLiteral("json"), output});
    const QJsonArray streams =
        QJsonDocument::fromJson(probe.out).object()[QStringLiteral("streams")].toArray();
    ASSERT_EQ(streams.size(), 2);
    QStringList languages;
    for (const QJsonValue &stream : streams)
        languages.append(stream.toObject()[QStringLiteral("tags")]
                             .toObject()[QStringLiteral("language")]
                             .toString());
    EXPECT_TRUE(languages.contains(QStringLiteral("eng"))) << languages.join(u' ');
}
