// quillory-scan-bench: "Add All HTML Files In Folder" through the real window (offscreen) on a tree
// of 100,000 files in 10,000 folders, made in a scratch folder outside the source tree.

#include "BenchServices.h"
#include "Dialogs.h"
#include "EventPump.h"
#include "InputFileList.h"
#include "MainWindow.h"
#include "SettingsStore.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

namespace {

// The real pump, counting its calls.
class CountingPump final : public EventPump
{
public:
    void processEvents() override
    {
        ++calls;
        m_real.processEvents();
    }
    void waitForEvents() override { m_real.waitForEvents(); }
    void wake() override { m_real.wake(); }
    long calls = 0;

private:
    QtEventPump m_real;
};

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);

    // 100 folders of 100 folders each: 10,000 leaf folders of 10 files, 10,101 folders in all.
    QTemporaryDir scratch;
    const QString root = scratch.filePath("tree");
    QElapsedTimer clock;
    clock.start();
    int files = 0;
    for (int a = 0; a < 100; ++a) {
        for (int b = 0; b < 100; ++b) {
            const QString folder =
                QStringLiteral("%1/d%2/d%3").arg(root).arg(a, 3, 10, QChar('0')).arg(b, 3, 10, QChar('0'));
            QDir().mkpath(folder);
            for (int f = 0; f < 10; ++f) {
                QFile file(QStringLiteral("%1/page%2.htm").arg(folder).arg(f));
                file.open(QIODevice::WriteOnly);
                ++files;
            }
        }
    }
    std::printf("made %d files in %d folders in %.1f s\n", files, 100 * 100 + 100 + 1, double(clock.elapsed()) / 1000);

    SettingsStore settings(scratch.filePath("settings.ini"));
    BenchDialogs dialogs;
    dialogs.extension = QStringLiteral("htm");
    dialogs.folder = root;
    NoClipboard clipboard;
    NoShell shell;
    CountingPump events;
    MainWindow window(WindowServices{dialogs, clipboard, shell, settings, events, [] {}, scratch.path()});
    window.recordSampleFiles = [] {
    };
    window.Form_Load();
    window.show();

    for (int round = 0; round < 2; ++round) {
        window.inputFiles().Clear();
        events.calls = 0;
        clock.restart();
        window.PushButton5_Click();
        std::printf("scan: %.2f s, %d files added, %ld event passes\n", double(clock.nsecsElapsed()) / 1e9,
                    window.inputFiles().Count(), events.calls);
    }
    return 0;
}
