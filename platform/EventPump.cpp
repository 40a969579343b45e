#include "EventPump.h"

#include <QCoreApplication>

void QtEventPump::processEvents()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}
