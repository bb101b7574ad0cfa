#include "Settings/UserSettings.h"
#include "Speech/SpeechWorker.h"

#include <QApplication>
#include <QTemporaryDir>
#include <clocale>
#if defined(__SANITIZE_ADDRESS__)
#include <dlfcn.h>
#endif
#include <gtest/gtest.h>

#if defined(__SANITIZE_ADDRESS__)
// Third-party leaks (Mesa, D-Bus) are listed in the suppressions file. Not intercepting
// __tls_get_addr keeps GCC 12's leak checker from misreading dynamic TLS blocks and dying at exit
// ("Tracer caught signal 11") in a run that leaked nothing.
extern "C" const char *__asan_default_options()
{
    return "intercept_tls_get_addr=0";
}
extern "C" const char *__lsan_default_options()
{
    return "suppressions=" KELVORANDIX_LSAN_SUPPRESSIONS
           ":print_suppressions=0:intercept_tls_get_addr=0";
}
extern "C" const char *__ubsan_default_options()
{
    return "print_stacktrace=1:halt_on_error=1";
}
#endif

// The player's tests need widgets, so they get a QApplication, on Qt's offscreen platform unless
// the caller chose another (the OpenGL view's tests run under xvfb-run with QT_QPA_PLATFORM=xcb).
// Test discovery runs this binary at build time without the tests' environment, hence the default
// here. Like every test process, this one keeps its own settings file.
int main(int argc, char **argv)
{
    // A speech job's worker process runs nothing else.
    if (const std::optional<int> status = SpeechWorker::serveIfAsked(argc, argv))
        return *status;
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();
    QTemporaryDir settingsFolder;
    qputenv(UserSettings::settingsFileVariable,
            (settingsFolder.path() + QStringLiteral("/settings.ini")).toLocal8Bit());
    QApplication app(argc, argv);
    // QApplication takes the C library's locale from the environment; mpv needs numbers in "C".
    std::setlocale(LC_NUMERIC, "C");
    const int status = RUN_ALL_TESTS();
#if defined(__SANITIZE_ADDRESS__)
    // Mesa's software OpenGL driver keeps a few allocations for good and is unloaded when the
    // display closes, after which LeakSanitizer could no longer name it for the suppressions
    // file. Pinned (if the tests loaded it), it stays mapped until the leak check.
    dlopen(KELVORANDIX_MESA_DRIVER, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
#endif
    return status;
}
