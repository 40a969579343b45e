#include <QCoreApplication>

#include <gtest/gtest.h>

// QAbstractItemModelTester in its Warning mode reports an inconsistent model as a warning, and Qt warns of a timer
// started without an event loop: either is a fault of the code under test, so it fails the running test.
static void failOnWarning(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type != QtDebugMsg && type != QtInfoMsg)
        ADD_FAILURE() << (context.category ? context.category : "") << ": " << message.toStdString();
}

// The results list announces its rows from the event loop, which needs an application object.
int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    qInstallMessageHandler(failOnWarning);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
