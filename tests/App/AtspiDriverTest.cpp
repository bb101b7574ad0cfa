// The harness's own promises where a test leans on them without seeing them: a program that never
// shows itself on the bus is reported with its exit code or what is there instead, and whatever
// it started is ended with it; what cannot be asked for is refused, not guessed at.
#include "AtspiDriver.h"
#include "TestSupport.h"

#include <QThread>
#include <csignal>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

using testing::HasSubstr;

namespace {

class AtspiDriverTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!driver.unavailable().isEmpty())
            GTEST_SKIP() << driver.unavailable();
    }

    // Tools still running that hold the marker (one word) on their command line.
    static QStringList running(const QString &marker)
    {
        QStringList found;
        TestSupport::waitUntil(
            [&] {
                found.clear();
                // A killed process lingers unreaped for a moment, with no command line.
                for (const QString &process : TestSupport::processesWith(marker))
                    if (!process.contains(QLatin1String("sh -c")))
                        found.append(process);
                return found.isEmpty();
            },
            5000);
        return found;
    }

    AtspiDriver driver;
};

} // namespace

TEST_F(AtspiDriverTest, AProgramThatEndsAtOnceIsReportedAndWhatItStartedEndsWithIt)
{
    // A length of sleep that nothing else runs: the marker to find it by.
    const QString marker = QStringLiteral("61.25");
    const QString sleeper = QStringLiteral("sleep ") + marker;
    const testing::AssertionResult started =
        driver.start(QStringLiteral("/bin/sh"),
                     {QStringLiteral("-c"), sleeper + QStringLiteral(" & exit 3")}, {}, 5000);
    EXPECT_FALSE(started);
    EXPECT_THAT(started.message(), HasSubstr("ended (exit code 3)"));
    ASSERT_EQ(driver.strays().size(), 1);
    EXPECT_THAT(driver.strays().first().toStdString(), HasSubstr(sleeper.toStdString()));
    EXPECT_EQ(running(marker), QStringList());
}

TEST_F(AtspiDriverTest, AProgramThatNeverShowsItselfIsNamedAndStoppedWithItsGroup)
{
    const QString marker = QStringLiteral("62.25");
    const QString sleeper = QStringLiteral("sleep ") + marker;
    const testing::AssertionResult started =
        driver.start(QStringLiteral("/bin/sh"),
                     {QStringLiteral("-c"),
                      sleeper + QStringLiteral(" & ") + sleeper + QStringLiteral(" & wait")},
                     {}, 1000);
    EXPECT_FALSE(started);
    EXPECT_THAT(started.message(), HasSubstr("is not on the accessibility bus after 1000 ms"));
    EXPECT_TRUE(driver.isRunning());
    EXPECT_EQ(driver.stop(1000), 128 + SIGTERM);
    EXPECT_EQ(driver.strays().size(), 2);
    EXPECT_EQ(running(marker), QStringList());
    EXPECT_EQ(driver.waitForExit(0), 128 + SIGTERM);
}

TEST_F(AtspiDriverTest, WhatCannotBeAskedForIsRefused)
{
    EXPECT_FALSE(driver.start(QStringLiteral("/bin/true"), {}, {QStringLiteral("NO_VALUE")}));
    EXPECT_FALSE(driver.isRunning());
    EXPECT_FALSE(driver.start(QStringLiteral("/nonexistent/program")));
    EXPECT_EQ(driver.waitForExit(0), AtspiDriver::noExit);

    for (const char *combination : {"Hyper+x", "Ctrl+", "", "Ctrl+No_Such_Key"})
        EXPECT_FALSE(driver.pressKey(QString::fromLatin1(combination))) << combination;
    EXPECT_FALSE(driver.click(AtspiElement()));
    EXPECT_FALSE(AtspiElement().doAction(QStringLiteral("Press")));
}
