#include "Settings/UserSettings.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#if defined(__SANITIZE_ADDRESS__)
// Carried by the binary, so that a test run by hand reports as one run by ctest does.
extern "C" const char *__asan_default_options()
{
    return "detect_leaks=1:abort_on_error=0";
}
extern "C" const char *__ubsan_default_options()
{
    return "print_stacktrace=1:halt_on_error=1";
}
#endif

// The tests that drive the app from outside need no widgets of their own: the screen is read from
// the X server. Like every test process, this one keeps its own settings file.
int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    QTemporaryDir settingsFolder;
    qputenv(UserSettings::settingsFileVariable,
            (settingsFolder.path() + QStringLiteral("/settings.ini")).toLocal8Bit());
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
