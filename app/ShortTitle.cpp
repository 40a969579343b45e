#include "ShortTitle.h"

#include <QCoreApplication>

namespace ShortTitle {

namespace {

QString& installed()
{
    static QString title;
    return title;
}

} // namespace

QString Derive(const QString& title)
{
    QString shortTitle = title;
    do {
        const qsizetype blank = shortTitle.lastIndexOf(u' ');
        if (blank < 0)
            break;
        shortTitle.truncate(blank);
    } while (shortTitle.size() > 40);
    return shortTitle;
}

void SetShortTitle()
{
    installed() = Derive(QStringLiteral("Quillory"));
    QCoreApplication::setApplicationName(installed());
}

QString Get()
{
    return installed().isEmpty() ? QCoreApplication::applicationName() : installed();
}

} // namespace ShortTitle
