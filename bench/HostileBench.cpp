// quillory-hostile-bench: hostile inputs through the real window (offscreen), with figures.
//
//  1. a file of several hundred MB in option 3 with few matching lines: the memory it takes
//     beside the file itself;
//  2. a file whose every line matches, more rows than the results list may hold: where the list
//     stops, what it reports, and the memory at that point;
//  3. a page of `<p>x` repeated 30 million times (120 MB, far denser than the parser's memory can
//     hold within a worker's limit) followed by a small page in option 1: how long until the first
//     gets its report, what the window said, and the small page's rows;
//  4. a document of hundreds of thousands of nested elements in option 4: how long the window's
//     thread goes without processing events while the worker parses, and how soon a close ends
//     the program. This is the last phase: like the real program, the bench ends right there.

#include "BenchServices.h"
#include "InProcessDocuments.h"
#include "InputFileList.h"
#include "MainWindow.h"
#include "ResultsList.h"
#include "SettingsStore.h"
#include "WorkerPool.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <sys/resource.h>

namespace {

constexpr double kMB = 1024.0 * 1024.0;

double peakRssMB()
{
    struct rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0;
}

double currentRssMB()
{
    std::ifstream status("/proc/self/statm");
    long pages = 0, resident = 0;
    status >> pages >> resident;
    return double(resident) * double(sysconf(_SC_PAGESIZE)) / kMB;
}

// Writes line over and over until the file has at least bytes bytes; every matchEvery-th line is
// match instead (0: never).
double writeLines(const QString& path, const std::string& line, const std::string& match, long matchEvery,
                  double megabytes)
{
    std::ofstream out(path.toStdString(), std::ios::binary);
    std::string block;
    long written = 0, n = 0;
    const long target = long(megabytes * kMB);
    while (written < target) {
        block.clear();
        while (block.size() < (1 << 20)) {
            block += matchEvery > 0 && ++n % matchEvery == 0 ? match : line;
            block += "\r\n";
        }
        out.write(block.data(), std::streamsize(block.size()));
        written += long(block.size());
    }
    return double(written) / kMB;
}

void choose(MainWindow& window, int option)
{
    window.findChild<QRadioButton*>(QStringLiteral("Option%1").arg(option))->setChecked(true);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);

    double bigMB = 400, floodMB = 650, denseMB = 120;
    int depth = 200000;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        if (name == "--big-mb")
            bigMB = std::atof(argv[i + 1]);
        else if (name == "--flood-mb")
            floodMB = std::atof(argv[i + 1]);
        else if (name == "--dense-mb")
            denseMB = std::atof(argv[i + 1]);
        else if (name == "--depth")
            depth = std::atoi(argv[i + 1]);
    }

    QTemporaryDir scratch(QDir::tempPath() + "/quillory-hostile-XXXXXX");
    SettingsStore settings(scratch.filePath("settings.ini"));
    BenchDialogs dialogs;
    TimedPump events;
    NoClipboard clipboard;
    NoShell shell;
    QElapsedTimer sinceClose;
    MainWindow window(WindowServices{dialogs, clipboard, shell, settings, events,
                                     [&] {
                                         std::printf("close to end of program: %.1f ms, during the parse "
                                                     "(longest gap so far %.1f ms)\n",
                                                     double(sinceClose.nsecsElapsed()) / 1e6, events.longestGapMs());
                                         std::fflush(nullptr);
                                         std::_Exit(0);
                                     },
                                     scratch.path(),
                                     [] {
                                         return createWorkerDocuments(DefaultDocumentWorkers(
                                             QApplication::applicationDirPath() + "/../app/quillory-worker"));
                                     }});
    window.recordSampleFiles = [] {
    };
    window.Form_Load();
    window.show();
    QElapsedTimer clock;

    // 1. Several hundred MB in option 3, one line in ten thousand matching.
    {
        const QString path = scratch.filePath("big-lines.html");
        const double size = writeLines(path, "<tr><td class=\"cell\">a row of an ordinary table</td></tr>",
                                       "<tr><td>needle</td></tr>", 10000, bigMB);
        window.inputFiles().Append(path);
        window.findChild<QLineEdit*>("Text2")->setText("needle");
        choose(window, 3);
        const double before = currentRssMB();
        const double peakBefore = peakRssMB();
        clock.start();
        window.PushButton7_Click();
        std::printf("option 3 on %.0f MB: %.2f s, %d rows, RSS before %.0f MB, peak %.0f MB (%.2fx the file "
                    "over what was there before)\n",
                    size, double(clock.nsecsElapsed()) / 1e9, window.results().Count(), before,
                    std::max(peakBefore, peakRssMB()), (std::max(peakBefore, peakRssMB()) - before) / size);
        window.results().Clear();
        window.inputFiles().Clear();
        QFile::remove(path);
    }

    // 2. More matching lines than the results list may hold.
    {
        const QString path = scratch.filePath("flood.html");
        const double size = writeLines(path, "one", "", 0, floodMB);
        window.inputFiles().Append(path);
        window.findChild<QLineEdit*>("Text2")->setText("one");
        choose(window, 3);
        dialogs.last.clear();
        clock.start();
        window.PushButton7_Click();
        std::printf("option 3 on %.0f MB of matching lines: %.2f s, the list holds %d rows taking %.0f MB "
                    "of its %.0f MB capacity; peak RSS %.0f MB\nthe window said: %s\n",
                    size, double(clock.nsecsElapsed()) / 1e9, window.results().Count(),
                    double(window.results().BytesHeld()) / kMB, double(window.results().CapacityBytes()) / kMB,
                    peakRssMB(), qPrintable(QString(dialogs.last).replace("\r\n", " / ").replace('\r', " / ")));
        window.results().Clear();
        window.inputFiles().Clear();
        QFile::remove(path);
    }

    // 3. A page too dense for a worker's memory, then a small one.
    {
        const QString dense = scratch.filePath("dense.html");
        const QString small = scratch.filePath("small.html");
        const QByteArray block = QByteArray("<p>x").repeated(1 << 18);
        QFile denseFile(dense), smallFile(small);
        if (!denseFile.open(QIODevice::WriteOnly) || !smallFile.open(QIODevice::WriteOnly))
            return 1;
        for (int i = 0; i < int(denseMB); ++i)
            denseFile.write(block);
        denseFile.close();
        smallFile.write("<p>small page</p>");
        smallFile.close();
        const double size = double(QFileInfo(dense).size()) / kMB;
        window.inputFiles().Append(dense);
        window.inputFiles().Append(small);
        choose(window, 1);
        dialogs.shown.clear();
        events.start();
        clock.start();
        window.PushButton7_Click();
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        events.finish();
        struct rusage children = {};
        getrusage(RUSAGE_CHILDREN, &children);
        std::printf("option 1 on a %.0f MB page of <p>x and a small page: %.2f s, longest gap %.1f ms, rows: %s; "
                    "largest worker peak %.0f MB\nthe window said: %s\n",
                    size, seconds, events.longestGapMs(), qPrintable(window.results().Texts().mid(0, 3).join(" | ")),
                    double(children.ru_maxrss) / 1024.0,
                    qPrintable(dialogs.shown.join(" // ").replace("\r\n", " / ").replace('\r', " / ")));
        window.results().Clear();
        window.inputFiles().Clear();
        QFile::remove(dense);
        QFile::remove(small);
    }

    // 4. Deeply nested elements in option 4, closed while the worker parses.
    {
        const QString path = scratch.filePath("deep.html");
        {
            std::ofstream out(path.toStdString(), std::ios::binary);
            for (int i = 0; i < depth; ++i)
                out << "<div>";
            out << "deep";
        }
        window.inputFiles().Append(path);
        choose(window, 4);
        std::printf("option 4 on %d nested <div>: closing the window 3 s into the run\n", depth);
        std::fflush(stdout);
        QTimer::singleShot(3000, &window, [&] {
            sinceClose.start();
            window.close();
        });
        events.start();
        window.PushButton7_Click();
        std::printf("the run ended before the close: the parse took under 3 s (longest gap %.1f ms); raise --depth\n",
                    events.longestGapMs());
    }
    return 1;
}
