#include "QtShell.h"

#include <QDesktopServices>
#include <QUrl>

void QtShell::openFolder(const QString& folder)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}
