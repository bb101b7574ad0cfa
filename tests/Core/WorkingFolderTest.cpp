#include "WorkingFolder.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>

TEST(WorkingFolder, IsOnePrivateFolderHoldingTheFixedNames)
{
    const QString path = WorkingFolder::path();
    const QFileInfo info(path);
    EXPECT_TRUE(info.isDir());
    EXPECT_EQ(info.permissions() & (QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                    QFile::ReadOther | QFile::WriteOther | QFile::ExeOther),
              QFile::Permissions());
    EXPECT_EQ(WorkingFolder::path(), path);
    EXPECT_EQ(WorkingFolder::subtitlesFile(), path + QStringLiteral("/subtitles.srt"));
    EXPECT_EQ(WorkingFolder::speechFile(), path + QStringLiteral("/speech.aiff"));
    EXPECT_EQ(WorkingFolder::projectFile(), path + QStringLiteral("/project.s2s"));
    EXPECT_EQ(WorkingFolder::overlayAudioFile(), path + QStringLiteral("/overlay_audio.aiff"));
    EXPECT_EQ(WorkingFolder::projectItemFile(), path + QStringLiteral("/project_item.aiff"));
    EXPECT_EQ(WorkingFolder::recordingFile(), path + QStringLiteral("/overlay_recording.aiff"));
}

TEST(WorkingFolder, EachProcessHasItsOwnAndRemovesItAtExit)
{
    QStringList folders;
    for (int run = 0; run < 2; ++run) {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("KELVORANDIX_TEST_PRINT_WORKING_FOLDER"), QStringLiteral("1"));
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {});
        ASSERT_TRUE(child.waitForFinished(30000));
        ASSERT_EQ(child.exitCode(), 0) << child.readAllStandardError().toStdString();
        folders.append(QString::fromLocal8Bit(child.readAllStandardOutput().trimmed()));
        ASSERT_FALSE(folders.last().isEmpty());
        EXPECT_FALSE(QFileInfo::exists(folders.last())) << folders.last();
    }
    EXPECT_NE(folders[0], folders[1]);
    EXPECT_NE(folders[0], WorkingFolder::path());
}
