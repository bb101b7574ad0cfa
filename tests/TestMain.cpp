#include "Settings/UserSettings.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// Every test process gets a QCoreApplication and its own settings file, so that no test ever
// reads or writes the user's real preferences.
int main(int argc, char **argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QTemporaryDir settingsFolder;
    qputenv(UserSettings::settingsFileVariable,
            (settingsFolder.path() + QStringLiteral("/settings.ini")).toLocal8Bit());
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
