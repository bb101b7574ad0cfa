#include "WorkingFolder.h"
#include "TestSupport.h"

#include <QFileInfo>
#include <gtest/gtest.h>

TEST(WorkingFolder, IsOnePrivateFolderHoldingTheFixedNames) {
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
}
