#include "OpenPanel.h"

#include <QFileDialog>

void OpenPanel::open(QWidget *window, const QString &title, const QString &kind,
                     const QStringList &types, QObject *receiver,
                     std::function<void(const QString &path)> chosen)
{
    QStringList patterns;
    for (const QString &type : types)
        patterns.append(QStringLiteral("*.") + type);
    auto *dialog = new QFileDialog(window, title);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setNameFilter(QStringLiteral("%1 (%2)").arg(kind, patterns.join(u' ')));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(dialog, &QFileDialog::fileSelected, receiver,
                     [chosen = std::move(chosen)](const QString &path) {
                         if (!path.isEmpty())
                             chosen(path);
                     });
    dialog->open();
}
