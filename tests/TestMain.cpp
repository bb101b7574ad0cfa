#include "Settings/UserSettings.h"
#include "WorkingFolder.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <gtest/gtest.h>

// Every test process gets a QCoreApplication and its own settings file, so that no test ever
// reads or writes the user's real preferences.
int main(int argc, char **argv)
{
    // Child mode for the working-folder tests: fill the folder, report it, and exit normally.
    if (qEnvironmentVariableIsSet("KELVORANDIX_TEST_PRINT_WORKING_FOLDER")) {
        QCoreApplication app(argc, argv);
        QFile file(WorkingFolder::speechFile());
        if (!file.open(QIODevice::WriteOnly) || file.write("x") != 1)
            return 1;
        std::printf("%s\n", WorkingFolder::path().toLocal8Bit().constData());
        return 0;
    }
    ::testing::InitGoogleTest(&argc, argv);
    QTemporaryDir settingsFolder;
    qputenv(UserSettings::settingsFileVariable,
            (settingsFolder.path() + QStringLiteral("/settings.ini")).toLocal8Bit());
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
