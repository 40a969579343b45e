// Runs every window suite in one process with one QApplication.

#include <QApplication>
#include <QTest>

#include <memory>
#include <vector>

std::vector<std::unique_ptr<QObject>> makeWindowSuites();

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    int failures = 0;
    for (const auto& suite : makeWindowSuites())
        failures += QTest::qExec(suite.get(), argc, argv);
    return failures == 0 ? 0 : 1;
}
