#pragma once

// Drives the real app as a user does, from outside its process: it runs the app as a child
// process on the test's X server, finds its controls on the accessibility bus (AT-SPI) by role and
// accessible name, and acts with real pointer clicks and key presses (XDisplay).
//
// Runs under xvfb-run and dbus-run-session; the accessibility bus and its registry are started on
// that session bus by the driver itself, before the app, which only joins a bus that is already
// there. The app gets QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1: Qt otherwise shows its controls on the
// bus only while a screen reader says it runs.
//
// Waits poll until the time given is up. What fails says what it looked for and what the app
// shows at that moment:
//
//   AtspiDriver app;
//   ASSERT_TRUE(app.unavailable().isEmpty()) << app.unavailable().toStdString();
//   ASSERT_TRUE(app.start(KELVORANDIX_APP_PATH, {video, subtitles}, {"KELVORANDIX_SETTINGS=..."}));
//   const AtspiElement window = app.waitForWindow("Kelvorandix");
//   ASSERT_TRUE(window);
//   ASSERT_TRUE(app.waitUntilEnabled("push button", "Make"));
//   ASSERT_TRUE(app.click(app.waitFor("menu item", "File")));
//   ASSERT_TRUE(app.pressKey("Ctrl+Q"));
//   EXPECT_EQ(app.waitForExit(), 0);

#include "AtspiElement.h"
#include "XDisplay.h"

#include <QProcess>
#include <QString>
#include <QStringList>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <source_location>

class AtspiDriver {
public:
    static constexpr int defaultTimeoutMs = 15000;
    // waitForExit's answer while the app runs, or when none was started.
    static constexpr int noExit = -1;

    AtspiDriver();
    // Stops the app if it still runs, and what it started.
    ~AtspiDriver();
    AtspiDriver(const AtspiDriver &) = delete;
    AtspiDriver &operator=(const AtspiDriver &) = delete;

    // Why the driver cannot work here (no X display, no accessibility bus); empty when it can.
    QString unavailable() const { return problem; }

    // Starts the program with arguments and extra environment entries (NAME=value) in a process
    // group of its own, and waits until it shows itself on the bus. Its output goes to the test's.
    testing::AssertionResult start(const QString &program, const QStringList &arguments = {},
                                   const QStringList &environment = {}, int timeoutMs = 60000);
    qint64 processId() const;
    bool isRunning() const;
    AtspiElement application() const { return app; }

    // Waits for the app to end by itself (it is left running when the time is up): its exit
    // code, 128 + the signal's number when a signal ended it, or noExit.
    int waitForExit(int timeoutMs = defaultTimeoutMs);
    // Ends the app: SIGTERM, and SIGKILL after the grace time. Returns as waitForExit does.
    int stop(int graceMs = 5000);
    // Processes the app had started that were still running when it ended (they are killed
    // then), one "PID command line" each.
    QStringList strays() const { return leftBehind; }

    // Descendants of the application with a role and name (see AtspiElement::findAll).
    AtspiElement find(const QString &role, const QString &name,
                      AtspiElement::Scope scope = AtspiElement::Scope::Showing) const;
    QList<AtspiElement> findAll(const QString &role, const QString &name,
                                AtspiElement::Scope scope = AtspiElement::Scope::Showing) const;
    // Waits until one is there; when none comes, fails the test (at the caller's line) with what
    // is showing and returns a null element.
    AtspiElement waitFor(const QString &role, const QString &name, int timeoutMs = defaultTimeoutMs,
                         AtspiElement::Scope scope = AtspiElement::Scope::Showing,
                         std::source_location caller = std::source_location::current());
    testing::AssertionResult waitUntilGone(const QString &role, const QString &name,
                                           int timeoutMs = defaultTimeoutMs);
    // Waits until a showing one is enabled.
    testing::AssertionResult waitUntilEnabled(const QString &role, const QString &name,
                                              int timeoutMs = defaultTimeoutMs);
    // Waits until condition holds; what describes it in the failure.
    testing::AssertionResult waitUntil(const std::function<bool()> &condition, const QString &what,
                                       int timeoutMs = defaultTimeoutMs);

    // Waits for a top-level window (frame, dialog or alert) of the app with this title, and gives
    // it the keyboard focus, as a window manager does with a window that opens.
    AtspiElement waitForWindow(const QString &title, int timeoutMs = defaultTimeoutMs,
                               std::source_location caller = std::source_location::current());
    // Gives a window of the app the keyboard focus.
    testing::AssertionResult activate(const AtspiElement &window);
    // Titles of the app's showing top-level windows.
    QStringList windowTitles() const;
    // What the app shows, one element a line: for failure messages.
    QString showing() const;

    // A left click at the centre of the element, with the real pointer: the window under it is
    // activated and the control takes the keyboard focus, as under a person's hand.
    testing::AssertionResult click(const AtspiElement &element);
    // Key presses go to the window that has the keyboard focus (see XDisplay::pressKeys).
    testing::AssertionResult pressKey(const QString &combination);
    testing::AssertionResult typeText(const QString &text);
    // Saves a picture of the whole screen as a PNG file.
    testing::AssertionResult screenshot(const QString &path);

    XDisplay &display() { return x; }

    // What the app under test needs in its environment beside the test's own entries: the leak
    // checker's suppressions for Qt's X11 and D-Bus plumbing, and the software render view.
    // Quitting with the OpenGL view, a sanitizer build exits 1: Mesa's software driver leaves
    // allocations behind and is unloaded with the display, after which the leak report cannot
    // name it for the suppressions file. The OpenGL view has tests of its own under xvfb-run.
    static QStringList appEnvironment();

private:
    int exitCode() const;
    void endGroup();

    XDisplay x;
    QString problem;
    std::unique_ptr<QProcess> process;
    qint64 pid = 0;
    AtspiElement app;
    QStringList leftBehind;
    bool groupEnded = false;
};
