#include "WindowDriver.h"

#include "TestSupport.h"

#include <QClipboard>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLineEdit>
#include <QScreen>
#include <QTest>

namespace WindowDriver {

bool showAndActivate(QWidget *window)
{
    window->show();
    if (!QTest::qWaitForWindowExposed(window))
        return false;
    window->activateWindow();
    return QTest::qWaitForWindowActive(window);
}

bool chooseFile(const QString &path)
{
    QFileDialog *dialog = nullptr;
    if (!TestSupport::waitUntil([&] { return (dialog = onScreen<QFileDialog>()); }, 10000))
        return false;
    auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    if (!name)
        return false;
    QGuiApplication::clipboard()->setText(path);
    QTest::keyClick(name, Qt::Key_V, Qt::ControlModifier);
    QTest::keyClick(name, Qt::Key_Return);
    return TestSupport::waitUntil([&] { return !dialog->isVisible(); }, 10000);
}

void shoot(QWidget *window, const QString &name)
{
    const QString folder = qEnvironmentVariable("KELVORANDIX_SCREENSHOTS");
    if (folder.isEmpty())
        return;
    QTest::qWait(700);
    const QRect frame = window->frameGeometry();
    QGuiApplication::primaryScreen()
        ->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height())
        .save(folder + u'/' + name);
}

} // namespace WindowDriver
