// The README's picture of the voice chooser with its list of names open on flite's voices, taken
// when KELVORANDIX_SCREENSHOTS names a folder (docs/screenshots/capture does).
#include "AppDelegate.h"
#include "Settings/UserSettings.h"
#include "WindowController.h"
#include "WindowDriver.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace WindowDriver;

TEST(VoiceChooser, Screenshot)
{
    if (qEnvironmentVariableIsEmpty("KELVORANDIX_SCREENSHOTS"))
        GTEST_SKIP() << "KELVORANDIX_SCREENSHOTS names no folder";
    QTemporaryDir folder;
    UserSettings settings(folder.filePath(QStringLiteral("settings.ini")));
    settings.setString(UserSettings::voiceLanguageKey, QStringLiteral("en_US"));
    settings.setString(UserSettings::voiceGenderKey, QStringLiteral("Male"));
    settings.setString(UserSettings::voiceNameKey, QStringLiteral("Flite AWB (Scottish)"));
    const QString samples = QStringLiteral(KELVORANDIX_SOURCE_DIR "/Resources/samples/");
    AppDelegate app(settings);
    WindowController *window = app.mainWindow();
    window->resize(1200, 800);
    ASSERT_TRUE(showAndActivate(window));
    app.openFile(samples + QStringLiteral("sample.mp4"));
    app.openFile(samples + QStringLiteral("sample.srt"));

    auto *names = shown<QComboBox>(window, QStringLiteral("Voice"));
    ASSERT_NE(names, nullptr);
    EXPECT_EQ(names->currentText(), QStringLiteral("Flite AWB (Scottish)"));
    names->showPopup();
    ASSERT_TRUE(QTest::qWaitFor([&] { return names->view()->isVisible(); }));
    shoot(window, QStringLiteral("voice-chooser.png"));
    names->hidePopup();
}
