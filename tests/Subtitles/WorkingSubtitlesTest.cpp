// The window's working subtitles: what the user is told when a subtitle file is refused.
#include "Subtitles/WorkingSubtitles.h"
#include "TestSupport.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(WorkingSubtitles, ARefusedSubRipFileNamesItsFirstUnreadableLine)
{
    QTemporaryDir folder;
    const auto refusal = [&](const QString &name, const QByteArray &bytes) {
        const QString path = folder.filePath(name);
        TestSupport::writeFile(path, bytes);
        WorkingSubtitles working;
        std::optional<std::pair<bool, QString>> result;
        QObject::connect(&working, &WorkingSubtitles::prepared,
                         [&](bool succeeded, const QString &reason) {
                             result = std::make_pair(succeeded, reason);
                         });
        working.prepare(path, std::nullopt);
        EXPECT_TRUE(TestSupport::waitUntil([&] { return result.has_value(); }));
        EXPECT_FALSE(result.value_or(std::make_pair(true, QString())).first);
        return result ? result->second : QString();
    };
    const QString subRip = refusal(QStringLiteral("broken.srt"), "\n\nnot subtitles\n");
    EXPECT_TRUE(subRip.startsWith(QStringLiteral("Could not parse subtitles: line 3: 'not "
                                                 "subtitles'\nffmpeg: ")))
        << subRip;
    // Another format is not judged by the SubRip reader.
    const QString other = refusal(QStringLiteral("broken.vtt"), "not subtitles\n");
    EXPECT_EQ(other, QStringLiteral("No subtitles could be read from it"));
}
