#include "WarningSheet.h"

#include <QMessageBox>

void WarningSheet::show(QWidget *window, const QString &title, const QString &detail)
{
    auto *alert = new QMessageBox(QMessageBox::Warning, title, title, QMessageBox::Ok, window);
    alert->setInformativeText(detail);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    alert->open();
}
