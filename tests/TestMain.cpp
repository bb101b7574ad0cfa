#include "Settings/UserSettings.h"
#include "Speech/SpeechWorker.h"
#include "WorkingFolder.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <gtest/gtest.h>

#if defined(__SANITIZE_ADDRESS__)
// Carried by the binary, so that a test run by hand reports as one run by ctest does. Not
// intercepting __tls_get_addr keeps GCC 12's leak checker from misreading dynamic TLS blocks and
// dying at exit ("Tracer caught signal 11") in a run that leaked nothing.
extern "C" const char *__asan_default_options()
{
    return "detect_leaks=1:abort_on_error=0:intercept_tls_get_addr=0";
}
extern "C" const char *__ubsan_default_options()
{
    return "print_stacktrace=1:halt_on_error=1";
}
#endif

// Every test process gets a QCoreApplication and its own settings file, so that no test ever
// reads or writes the user's real preferences.
int main(int argc, char **argv)
{
    // A speech job's worker process runs nothing else.
    if (const std::optional<int> status = SpeechWorker::serveIfAsked(argc, argv))
        return *status;
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
