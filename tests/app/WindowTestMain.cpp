// Runs every window suite in one process with one QApplication.

#include <QApplication>
#include <QTest>

#include <memory>
#include <vector>

std::vector<std::unique_ptr<QObject>> makeWindowSuites();

int main(int argc, char** argv)
{
    // Chosen here rather than by the test's environment, which Wine does not pass on: it drops every variable
    // whose name begins with QT_ before a Windows program starts.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
#ifdef Q_OS_WIN
    // Without a console window Qt Test writes its log (and Qt its warnings) to the debugger, where ctest never sees
    // them: to the standard output and error instead, as on Linux.
    qputenv("QT_FORCE_STDERR_LOGGING", "1");
#endif
    QApplication application(argc, argv);
    int failures = 0;
    for (const auto& suite : makeWindowSuites())
        failures += QTest::qExec(suite.get(), argc, argv);
    return failures == 0 ? 0 : 1;
}
