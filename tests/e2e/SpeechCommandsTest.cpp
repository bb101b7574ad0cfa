// kelvorandix-cli voices and say, run as a user runs them.
#include "Speech/AIFFFile.h"
#include "TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using TestSupport::runCli;

TEST(VoicesCommand, ListsTheCatalogueWithTheEngine)
{
    const TestSupport::ProcessResult result =
        runCli({QStringLiteral("voices"), QStringLiteral("--json"), QStringLiteral("--language"),
                QStringLiteral("pt")});
    ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
    const QJsonObject document = QJsonDocument::fromJson(result.out).object();
    const QJsonObject engine = document[QStringLiteral("engine")].toObject();
    EXPECT_EQ(engine[QStringLiteral("sampleRate")].toInt(), 22050);
    EXPECT_FALSE(engine[QStringLiteral("dataPath")].toString().isEmpty());
    const QJsonArray voices = document[QStringLiteral("voices")].toArray();
    ASSERT_GT(voices.size(), 10);
    QSet<QString> languages;
    QSet<QString> genders;
    for (const QJsonValue &value : voices) {
        const QJsonObject voice = value.toObject();
        EXPECT_TRUE(voice[QStringLiteral("locale")].toString().startsWith(QStringLiteral("pt")));
        languages.insert(voice[QStringLiteral("language")].toString());
        genders.insert(voice[QStringLiteral("gender")].toString());
    }
    EXPECT_EQ(languages,
              (QSet<QString>{QStringLiteral("Portuguese"), QStringLiteral("Portuguese (Brazil)")}));
    EXPECT_EQ(genders, (QSet<QString>{QStringLiteral("Male"), QStringLiteral("Female")}));
    // The chooser's order: languages by name.
    EXPECT_EQ(voices.first().toObject()[QStringLiteral("language")].toString(),
              QStringLiteral("Portuguese"));

    const TestSupport::ProcessResult table =
        runCli({QStringLiteral("voices"), QStringLiteral("--language"), QStringLiteral("de")});
    ASSERT_EQ(table.exitCode, 0);
    EXPECT_TRUE(table.out.startsWith("# espeak-ng ")) << table.out.left(200).toStdString();
    EXPECT_TRUE(table.out.contains("gmw/de+Andrea"));

    const TestSupport::ProcessResult none =
        runCli({QStringLiteral("voices"), QStringLiteral("--language"), QStringLiteral("zz")});
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_TRUE(none.out.isEmpty());
    EXPECT_TRUE(none.err.startsWith("No voices for the language 'zz'")) << none.err.toStdString();
}

TEST(SayCommand, SpeaksToAFileOrSaysWhyNot)
{
    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("it's spoken ü.aiff"));
    TestSupport::ProcessResult result =
        runCli({QStringLiteral("say"), QStringLiteral("--voice"), QStringLiteral("gmw/en-US+f3"),
                QStringLiteral("--rate"), QStringLiteral("260"), QStringLiteral("--out"), file,
                QStringLiteral("Hello"), QStringLiteral("there.")});
    ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_GT(AIFFFile::duration(file), 300);
    const TestSupport::ProcessResult probe = TestSupport::runProgram(
        QStringLiteral("ffprobe"),
        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
         QStringLiteral("stream=codec_name,sample_rate"), QStringLiteral("-of"),
         QStringLiteral("csv=p=0"), file});
    EXPECT_EQ(probe.out.trimmed(), QByteArray("pcm_s16be,22050"));

    result = runCli({QStringLiteral("say"), QStringLiteral("--voice"), QStringLiteral("nobody"),
                     QStringLiteral("Hi")});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_EQ(result.err, QByteArray("Could not initialize the specified voice\n"));

    result = runCli({QStringLiteral("say"), QStringLiteral("--out"),
                     folder.filePath(QStringLiteral("no folder/x.aiff")), QStringLiteral("Hi")});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_FALSE(result.err.isEmpty());

    // A full disk (a file size limit stands in for one): a failure, and no file left behind.
    const QString full = folder.filePath(QStringLiteral("full/x.aiff"));
    QDir().mkpath(QFileInfo(full).absolutePath());
    result = runCli({QStringLiteral("say"), QStringLiteral("--out"), full, QStringLiteral("Hi")},
                    {}, 10);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(TestSupport::entriesOf(QFileInfo(full).absolutePath()).isEmpty())
        << TestSupport::entriesOf(QFileInfo(full).absolutePath()).join(u' ').toStdString();

    // Rates the engine cannot speak at are refused, not quietly spoken at another.
    for (const char *rate : {"inf", "nan", "1e30", "1e-30", "0", "451"}) {
        result = runCli({QStringLiteral("say"), QStringLiteral("--rate"), QString::fromLatin1(rate),
                         QStringLiteral("Hi")});
        EXPECT_EQ(result.exitCode, 2) << rate;
        EXPECT_TRUE(result.err.contains("from 80 to 450")) << rate << result.err.toStdString();
    }
}

TEST(SayCommand, FliteVoicesSpeakAndAreListed)
{
    QTemporaryDir folder;
    const QString text = QStringLiteral("We have to leave before the storm reaches the harbour.");
    QList<double> durations;
    for (const QString &rate : {QStringLiteral("200"), QStringLiteral("300")}) {
        const QString file = folder.filePath(rate + QStringLiteral(".aiff"));
        const TestSupport::ProcessResult result =
            runCli({QStringLiteral("say"), QStringLiteral("--voice"), QStringLiteral("flite/slt"),
                    QStringLiteral("--rate"), rate, QStringLiteral("--out"), file, text});
        ASSERT_EQ(result.exitCode, 0) << result.err.toStdString();
        durations.append(AIFFFile::duration(file));
    }
    EXPECT_GT(durations[0], 2000);
    EXPECT_LT(durations[1], durations[0] * 0.75);

    const TestSupport::ProcessResult voices =
        runCli({QStringLiteral("voices"), QStringLiteral("--language"), QStringLiteral("en_US")});
    ASSERT_EQ(voices.exitCode, 0);
    for (const char *voice : {"flite/slt", "flite/rms", "flite/awb", "flite/kal16"})
        EXPECT_TRUE(voices.out.contains(voice)) << voice;
    const TestSupport::ProcessResult version = runCli({QStringLiteral("--version")});
    EXPECT_TRUE(version.out.contains("speech: espeak-ng ")) << version.out.toStdString();
    EXPECT_TRUE(version.out.contains("speech: flite 2.2, voices built in, 16000 Hz, 4 voices"))
        << version.out.toStdString();
}
