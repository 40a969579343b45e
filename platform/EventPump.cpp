#include "EventPump.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QThread>

QtEventPump::QtEventPump() : m_thread(QThread::currentThread()) {}

void QtEventPump::processEvents()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void QtEventPump::waitForEvents()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

void QtEventPump::wake()
{
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance(m_thread))
        dispatcher->wakeUp();
}
