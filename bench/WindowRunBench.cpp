// quillory-window-bench: the extraction run through the real window (offscreen), timed against
// quillory-extract on the same files and mode in the same run, with the longest stretch in which
// the window's thread did not process events.

#include "BenchServices.h"
#include "Dialogs.h"
#include "EventPump.h"
#include "InProcessDocuments.h"
#include "InputFileList.h"
#include "MainWindow.h"
#include "ResultsList.h"
#include "SettingsStore.h"
#include "WorkerPool.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QRadioButton>
#include <QTemporaryDir>

#include <cstdio>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

double runExtractor(const std::string& extractor, int mode, const std::vector<std::string>& files,
                    const std::string& outPath)
{
    std::vector<std::string> args = {extractor, "-j", "1", "-m", std::to_string(mode)};
    args.insert(args.end(), files.begin(), files.end());
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    QElapsedTimer clock;
    clock.start();
    const pid_t child = fork();
    if (child == 0) {
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? double(clock.nsecsElapsed()) / 1e9 : -1;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);

    QString corpus = QDir::tempPath() + "/quillory-bench-corpus";
    QString extractor = QApplication::applicationDirPath() + "/../cli/quillory-extract";
    int runs = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        if (name == "--corpus")
            corpus = argv[i + 1];
        else if (name == "--extract")
            extractor = argv[i + 1];
        else if (name == "--runs")
            runs = std::max(1, std::atoi(argv[i + 1]));
    }
    QStringList pages = QDir(corpus).entryList({"page-*.html"}, QDir::Files, QDir::Name);
    if (pages.isEmpty()) {
        std::fprintf(stderr, "quillory-window-bench: no corpus in %s (run quillory-bench first)\n", qPrintable(corpus));
        return 1;
    }
    std::vector<std::string> files;
    QStringList paths;
    for (const QString& page : pages) {
        paths << QDir(corpus).filePath(page);
        files.push_back(paths.last().toStdString());
    }

    QTemporaryDir scratch;
    SettingsStore settings(scratch.filePath("settings.ini"));
    BenchDialogs dialogs;
    TimedPump events;
    NoClipboard clipboard;
    NoShell shell;
    const QString worker = QApplication::applicationDirPath() + "/../app/quillory-worker";
    MainWindow window(WindowServices{dialogs, clipboard, shell, settings, events, [] {}, scratch.path(),
                                     [&] {
                                         return createWorkerDocuments(DefaultDocumentWorkers(worker));
                                     }});
    window.recordSampleFiles = [] {
    };
    window.Form_Load();
    window.show();
    window.inputFiles().AppendMany(paths);
    window.findChild<QLineEdit*>("Text1")->setText("tr");
    window.findChild<QLineEdit*>("Text2")->setText("one");
    const std::string outPath = scratch.filePath("extract.out").toStdString();

    std::printf("%zu files of %s; best of %d\n\n", files.size(), qPrintable(corpus), runs);
    std::printf("%-6s %10s %10s %8s %10s %12s %10s\n", "mode", "window s", "cli s", "ratio", "rows", "longest gap",
                "pump calls");
    for (const int mode : {1, 2, 3, 4}) {
        window.findChild<QRadioButton*>(QStringLiteral("Option%1").arg(mode))->setChecked(true);
        double windowBest = 1e9, cliBest = 1e9, worstGap = 0;
        long calls = 0;
        for (int round = 0; round < runs; ++round) {
            window.results().Clear();
            QApplication::processEvents();
            events.start();
            QElapsedTimer clock;
            clock.start();
            window.PushButton7_Click();
            const double seconds = double(clock.nsecsElapsed()) / 1e9;
            events.finish();
            windowBest = std::min(windowBest, seconds);
            worstGap = std::max(worstGap, events.longestGapMs());
            calls = events.calls();
            const double cli = runExtractor(extractor.toStdString(), mode, files, outPath);
            if (cli < 0) {
                std::fprintf(stderr, "quillory-window-bench: %s failed\n", qPrintable(extractor));
                return 1;
            }
            cliBest = std::min(cliBest, cli);
        }
        std::printf("%-6d %10.3f %10.3f %8.2f %10d %9.1f ms %10ld\n", mode, windowBest, cliBest, windowBest / cliBest,
                    window.results().Count(), worstGap, calls);
        std::fflush(stdout);
    }
    std::printf("\nratio: window time over quillory-extract's; longest gap: the longest time the window's thread "
                "went without processing events during a run (mode 3 never yields, by design).\n");
    return 0;
}
