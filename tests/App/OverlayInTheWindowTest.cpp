// The voice-over editor in the real window, under an X server, driven as a user drives it: the
// project loaded from the subtitles, one item spoken, one given a file, one recorded from a
// microphone (a private sound server's sine source), and the voiced video made.
#include "AppDelegate.h"
#include "Settings/UserSettings.h"
#include "TestSupport.h"
#include "WindowController.h"
#include "WindowDriver.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTabBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace WindowDriver;

namespace {

void clickRow(QTableView *table, int row)
{
    const QRect cell = table->visualRect(table->model()->index(row, 1));
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center());
}

bool hasAudio(QTableView *table, int row)
{
    return table->model()->data(table->model()->index(row, 5)).toString().startsWith(u'▷');
}

} // namespace

TEST(OverlayInTheWindow, SpeakAttachRecordAndMake)
{
    TestSupport::PulseServer microphone;
    ASSERT_TRUE(microphone.isRunning()) << microphone.log().toStdString();
    microphone.useInThisProcess();

    QTemporaryDir folder;
    const QString out = folder.filePath(QStringLiteral("out"));
    QDir().mkpath(out);
    UserSettings settings(folder.filePath(QStringLiteral("settings.ini")));
    settings.setOutputFolder(out);
    settings.setString(UserSettings::voiceLanguageKey, QStringLiteral("en_US"));
    const QString cues = folder.filePath(QStringLiteral("cues.srt"));
    TestSupport::writeFile(cues, "1\n00:00:01,000 --> 00:00:03,000\nFirst line.\n\n"
                                 "2\n00:00:05,000 --> 00:00:07,000\nSecond line.\n\n"
                                 "3\n00:00:09,000 --> 00:00:11,000\nThird line.\n");
    const QString video = folder.filePath(QStringLiteral("clip.mkv"));
    TestSupport::ffmpeg("-f lavfi -i testsrc=d=13:s=160x120 -f lavfi -i "
                        "anullsrc=r=44100:cl=stereo -i %1 -t 13 -c:v libx264 -c:a aac -c:s srt "
                        "%2",
                        {cues, video});
    const QString tone = folder.filePath(QStringLiteral("tone.wav"));
    TestSupport::generateTone(tone, 48000, 1, 1.5, QStringLiteral("pcm_s16le"), 600);

    AppDelegate app(settings);
    WindowController *window = app.mainWindow();
    ASSERT_TRUE(showAndActivate(window));

    QTest::keyClick(window, Qt::Key_O, Qt::ControlModifier);
    ASSERT_TRUE(chooseFile(video));
    auto *make = shown<QPushButton>(window, QStringLiteral("Make"));
    ASSERT_TRUE(TestSupport::waitUntil([&] { return make->isEnabled(); }, 30000));

    // The overlay tab, and the project from the subtitles.
    auto *tabs = window->findChild<QTabBar *>();
    QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(1).center());
    QTest::mouseClick(shown<QPushButton>(window, QStringLiteral("Load to Overlay")),
                      Qt::LeftButton);
    auto *table = shown<QTableView>(window, QStringLiteral("Voice-over items"));
    ASSERT_NE(table, nullptr);
    ASSERT_TRUE(TestSupport::waitUntil([&] { return table->model()->rowCount() == 3; }, 30000));

    // Item 1 by speech, through the sheet.
    clickRow(table, 0);
    QTest::mouseClick(shown<QPushButton>(window, QStringLiteral("Text to Speech...")),
                      Qt::LeftButton);
    QDialog *sheet = nullptr;
    ASSERT_TRUE(TestSupport::waitUntil(
        [&] { return (sheet = qobject_cast<QDialog *>(QApplication::activeModalWidget())); },
        10000));
    QTest::mouseClick(shown<QPushButton>(sheet, QStringLiteral("Selected Item")), Qt::LeftButton);
    ASSERT_TRUE(TestSupport::waitUntil([&] { return hasAudio(table, 0); }, 60000));

    // Item 2: a file attached through the dialog.
    clickRow(table, 1);
    QTest::mouseClick(shown<QPushButton>(window, QStringLiteral("Attach Audio...")),
                      Qt::LeftButton);
    ASSERT_TRUE(chooseFile(tone));
    ASSERT_TRUE(TestSupport::waitUntil([&] { return hasAudio(table, 1); }, 30000));

    // Item 3: recorded from the microphone, then saved.
    clickRow(table, 2);
    auto *record = shown<QPushButton>(window, QStringLiteral("Record"));
    QTest::mouseClick(record, Qt::LeftButton);
    ASSERT_TRUE(
        TestSupport::waitUntil([&] { return record->text() == QStringLiteral("Stop"); }, 10000));
    QTest::qWait(1300);
    QTest::mouseClick(record, Qt::LeftButton);
    auto *save = shown<QPushButton>(window, QStringLiteral("Save"));
    ASSERT_TRUE(TestSupport::waitUntil([&] { return save->isEnabled(); }, 10000));
    QTest::mouseClick(save, Qt::LeftButton);
    ASSERT_TRUE(hasAudio(table, 2));

    // The README's picture of the tab, when docs/screenshots/capture asks for it.
    clickRow(table, 1);
    shoot(window, QStringLiteral("overlay.png"));

    // The overlay's Make.
    QPushButton *overlayMake = nullptr;
    for (QPushButton *button : window->findChildren<QPushButton *>())
        if (button->isVisible() && button->text() == QStringLiteral("Make"))
            overlayMake = button;
    ASSERT_NE(overlayMake, nullptr);
    ASSERT_TRUE(overlayMake->isEnabled());
    QTest::mouseClick(overlayMake, Qt::LeftButton);
    // One output at a time: the other tab's Make waits for this one.
    EXPECT_FALSE(make->isEnabled());
    ASSERT_TRUE(TestSupport::waitUntil(
        [&] {
            auto *box = onScreen<QMessageBox>();
            return box && box->text() == QStringLiteral("Congratulations");
        },
        180000));
    const QString made = out + QStringLiteral("/clip_Kelvorandix_en_US.mkv");
    const TestSupport::ProcessResult probe = TestSupport::runProgram(
        QStringLiteral("ffprobe"),
        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_streams"),
         QStringLiteral("-of"), QStringLiteral("json"), made});
    QStringList kinds;
    for (const QJsonValue &value :
         QJsonDocument::fromJson(probe.out).object()[QStringLiteral("streams")].toArray())
        kinds.append(value.toObject()[QStringLiteral("codec_type")].toString());
    EXPECT_EQ(kinds, (QStringList{QStringLiteral("video"), QStringLiteral("audio"),
                                  QStringLiteral("subtitle")}));
    // Each item is heard at its start; the gaps between them are silent.
    for (const double at : {1.1, 5.1, 9.1})
        EXPECT_GT(TestSupport::meanVolume(made, at, 0.6), -50) << "item at " << at;
    for (const double at : {3.8, 7.9})
        EXPECT_LT(TestSupport::meanVolume(made, at, 0.8), -80) << "gap at " << at;
}
