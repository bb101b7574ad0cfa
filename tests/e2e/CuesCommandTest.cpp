// kelvorandix-cli cues, run as a user runs it.
#include "TestSupport.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/stat.h>

using TestSupport::runCli;

namespace {

QJsonDocument json(const TestSupport::ProcessResult &result)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(result.out, &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << result.out.toStdString();
    return document;
}

class CuesCommand : public ::testing::Test {
protected:
    QString write(const QString &name, const QByteArray &bytes)
    {
        const QString path = folder.filePath(name);
        TestSupport::writeFile(path, bytes);
        return path;
    }
    QTemporaryDir folder;
};

} // namespace

TEST_F(CuesCommand, PrintsEveryCueAsJson)
{
    const QString path = write(QStringLiteral("it's a \"film\" ü.srt"),
                               "\xEF\xBB\xBF"
                               "1\r\n00:00:01,500 --> 00:00:03,000 X1:1 X2:2\r\n"
                               "<i>Hello</i>\r\nworld\r\n\r\n"
                               "x\r\n00:00:04,000 --> 00:00:05,000\r\nSkipped\r\n\r\n"
                               "3\r\n00:00:06.250 --> 00:00:07.000\r\nПока\r\n");
    const TestSupport::ProcessResult result = runCli({QStringLiteral("cues"), path});
    ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
    const QJsonArray cues = json(result).array();
    ASSERT_EQ(cues.size(), 2);
    const QJsonObject first = cues[0].toObject();
    EXPECT_EQ(first[QStringLiteral("start")].toDouble(), 1500);
    EXPECT_EQ(first[QStringLiteral("end")].toDouble(), 3000);
    EXPECT_EQ(first[QStringLiteral("text")].toArray(),
              QJsonArray({QStringLiteral("<i>Hello</i>"), QStringLiteral("world")}));
    EXPECT_EQ(first[QStringLiteral("endTimeStr")].toString(), QStringLiteral("00:00:03,000"));
    EXPECT_EQ(first[QStringLiteral("plain")].toString(), QStringLiteral("Hello world "));
    EXPECT_EQ(cues[1].toObject()[QStringLiteral("start")].toDouble(), 6250);
    EXPECT_EQ(cues[1].toObject()[QStringLiteral("plain")].toString(), QStringLiteral("Пока "));
}

TEST_F(CuesCommand, AtPrintsTheCueOnScreenOrNull)
{
    const QString path =
        write(QStringLiteral("a.srt"), "1\n00:00:09,500 --> 00:00:12,000\nAcross\n\n"
                                       "2\n00:00:11,000 --> 00:00:13,000\nLater\n");
    TestSupport::ProcessResult result =
        runCli({QStringLiteral("cues"), path, QStringLiteral("--at"), QStringLiteral("11500")});
    ASSERT_EQ(result.exitCode, 0);
    EXPECT_EQ(json(result).object()[QStringLiteral("plain")].toString(), QStringLiteral("Across "));
    result = runCli({QStringLiteral("cues"), path, QStringLiteral("--at=12500")});
    EXPECT_EQ(json(result).object()[QStringLiteral("plain")].toString(), QStringLiteral("Later "));
    result =
        runCli({QStringLiteral("cues"), path, QStringLiteral("--at"), QStringLiteral("20000")});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out.trimmed(), QByteArray("null"));
    result = runCli({QStringLiteral("cues"), path, QStringLiteral("--at"), QStringLiteral("soon")});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_TRUE(result.err.contains("--at")) << result.err.toStdString();
}

TEST_F(CuesCommand, FailuresSayWhatWentWrong)
{
    const QString broken =
        write(QStringLiteral("broken.srt"),
              "1\n00:00:01,000 --> 00:00:02,000\nA\n\n\n\n2\n00:00:03,000 --> 00:00:04,000\nB\n");
    TestSupport::ProcessResult result = runCli({QStringLiteral("cues"), broken});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, QByteArray("Could not parse subtitles: line 5: ''\n"));
    EXPECT_TRUE(result.out.isEmpty());

    result = runCli({QStringLiteral("cues"), write(QStringLiteral("bad time.srt"),
                                                   "1\r\n00:00:01,000 --> 00:00:02,000\r\nA\r\n\r\n"
                                                   "2\r\n00:00:03,000 -> 00:00:04,000\r\nB\r\n")});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err,
              QByteArray("Could not parse subtitles: line 6: '00:00:03,000 -> 00:00:04,000'\n"));

    result = runCli({QStringLiteral("cues"), write(QStringLiteral("latin1.srt"),
                                                   "1\n00:00:01,000 --> 00:00:02,000\nCaf\xE9\n")});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err,
              QByteArray("Could not parse subtitles: line 3 is not valid UTF-8 text\n"));

    result = runCli({QStringLiteral("cues"), folder.filePath(QStringLiteral("missing.srt"))});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(result.err.contains("no such file")) << result.err.toStdString();

    // What is not a regular file, or far too large for subtitles, is refused before any read:
    // a device would be read without end, a pipe would block for ever.
    const QString fifo = folder.filePath(QStringLiteral("pipe.srt"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString large = folder.filePath(QStringLiteral("huge.srt"));
    {
        QFile file(large);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.resize(200 * 1024 * 1024));
    }
    for (const auto &[path, reason] :
         {std::pair(QStringLiteral("/dev/zero"), QByteArray("it is not a regular file")),
          std::pair(fifo, QByteArray("it is not a regular file")),
          std::pair(large, QByteArray("too large for a subtitles file"))}) {
        for (const QString &command : {QStringLiteral("cues"), QStringLiteral("subtitles")}) {
            QStringList arguments{command, path};
            if (command == QLatin1String("subtitles"))
                arguments << QStringLiteral("--out") << folder.filePath(QStringLiteral("o.srt"));
            result = runCli(arguments);
            EXPECT_EQ(result.exitCode, 1) << path;
            EXPECT_TRUE(result.err.contains(reason)) << result.err.toStdString();
        }
    }

    result = runCli({QStringLiteral("cues")});
    EXPECT_EQ(result.exitCode, 2);
    result = runCli({QStringLiteral("frobnicate")});
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_TRUE(result.err.contains("unknown command")) << result.err.toStdString();
}

TEST_F(CuesCommand, ASignalWhilePrintingStopsIt)
{
    const QByteArray cues = TestSupport::manyCues(20000);
    const TestSupport::ProcessResult result = TestSupport::signalWhilePrinting(
        {QStringLiteral("cues"), write(QStringLiteral("many.srt"), cues)}, SIGINT);
    EXPECT_EQ(result.exitCode, 128 + SIGINT);
    EXPECT_FALSE(result.out.contains("Cue 20000.")) << result.out.size();
}

TEST_F(CuesCommand, FourLineFeedsInARealFileFailAndThreeSkipABlock)
{
    KELVORANDIX_REQUIRE_CORPUS(film, QStringLiteral("subtitlejs_LaLaLand.srt"));
    QByteArray text = TestSupport::readFile(film);
    const qsizetype second = text.indexOf("\n\n2\n");
    ASSERT_GT(second, 0);
    QByteArray three = text;
    three.insert(second, "\n");
    TestSupport::ProcessResult result =
        runCli({QStringLiteral("cues"), write(QStringLiteral("three.srt"), three)});
    ASSERT_EQ(result.exitCode, 0);
    EXPECT_EQ(json(result).array().size(), 1332);
    QByteArray four = text;
    four.insert(second, "\n\n");
    result = runCli({QStringLiteral("cues"), write(QStringLiteral("four.srt"), four)});
    EXPECT_EQ(result.exitCode, 1);
    // The empty block is the line after the first cue's blank line.
    const qsizetype line = text.left(second).count('\n') + 3;
    EXPECT_EQ(result.err,
              QStringLiteral("Could not parse subtitles: line %1: ''\n").arg(line).toUtf8());
}

TEST_F(CuesCommand, RealFilesWithAwkwardShapes)
{
    KELVORANDIX_REQUIRE_CORPUS(capability, QStringLiteral("pysrt_capability_tester.srt"));
    KELVORANDIX_REQUIRE_CORPUS(utf16, QStringLiteral("pysrt_bom-utf-16-be.srt"));
    KELVORANDIX_REQUIRE_CORPUS(crOnly, QStringLiteral("astisub_example-in-carriage-return.srt"));
    EXPECT_EQ(json(runCli({QStringLiteral("cues"), capability})).array().size(), 37);
    EXPECT_EQ(json(runCli({QStringLiteral("cues"), utf16})).array().size(), 7);
    const QJsonArray cr = json(runCli({QStringLiteral("cues"), crOnly})).array();
    ASSERT_EQ(cr.size(), 3);
    EXPECT_EQ(cr[2].toObject()[QStringLiteral("endTimeStr")].toString(),
              QStringLiteral("00:00:14.066"));
}

TEST(CliBasics, HelpAndVersion)
{
    TestSupport::ProcessResult result = runCli({QStringLiteral("--help")});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_TRUE(result.out.contains("cues")) << result.out.toStdString();
    result = runCli({QStringLiteral("cues"), QStringLiteral("--help")});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_TRUE(result.out.contains("--at")) << result.out.toStdString();
    result = runCli({QStringLiteral("--version")});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_TRUE(result.out.startsWith("kelvorandix-cli ")) << result.out.toStdString();
}
