// quillory-window-bench: the extraction run through the real window (offscreen), in three parts that can be run
// alone (--only) or left out (--skip):
//
//  speed  each option on the corpus through the window, timed against quillory-extract with as many jobs as the
//         window is given (--jobs) and with one, in the same run; the longest stretch in which the window's thread
//         did not process events, and the memory the window took per row it holds;
//  many   option 4 on the corpus listed as many times as it takes to give --many-rows rows: what the rows take
//         beside their text, then a scripted scroll of the results view from top to end and back, frame by frame;
//  huge   one page of a single element of --huge-mb MB of text in option 1: the run, then the window's save of
//         the one row it gives, each with its longest gap, and the saved file's size checked.

#include "BenchServices.h"
#include "Dialogs.h"
#include "EventPump.h"
#include "InProcessDocuments.h"
#include "InputFileList.h"
#include "MainWindow.h"
#include "ResultsExport.h"
#include "ResultsList.h"
#include "SettingsStore.h"
#include "WorkerPool.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr double kMB = 1024.0 * 1024.0;

// Runs quillory-extract on the files with its rows in outPath; the seconds it took, or -1 when it failed.
double runExtractor(const std::string& extractor, int jobs, int mode, const std::vector<std::string>& files,
                    const std::string& outPath)
{
    // The tag and text the window is given, so that both do the same work in options 2 and 3.
    std::vector<std::string> args = {extractor, "-j", std::to_string(jobs), "-m", std::to_string(mode)};
    args.insert(args.end(), {"-t", "tr", "-s", "one"});
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

// The machine's busy and total clock ticks over all cores, from the first line of /proc/stat.
struct CpuTicks
{
    long long busy = 0;
    long long total = 0;
};

CpuTicks cpuTicks()
{
    std::ifstream stat("/proc/stat");
    std::string cpu;
    stat >> cpu;
    CpuTicks ticks;
    long long value = 0;
    for (int field = 0; field < 8 && stat >> value; ++field) {
        ticks.total += value;
        // idle and iowait are the third and fourth fields
        if (field != 3 && field != 4)
            ticks.busy += value;
    }
    return ticks;
}

// The processor time this process (every thread of the window) has used, in seconds.
double ownCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The share of the cores that were busy between two readings, in percent.
double busyPercent(const CpuTicks& before, const CpuTicks& after)
{
    const long long total = after.total - before.total;
    return total > 0 ? 100.0 * double(after.busy - before.busy) / double(total) : 0.0;
}

// The resident memory of this process, from VmRSS in /proc/self/status.
qint64 residentBytes()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            std::istringstream fields(line.substr(6));
            qint64 kilobytes = 0;
            fields >> kilobytes;
            return kilobytes * 1024;
        }
    }
    return 0;
}

// Empties the results list and reads the resident memory the next run starts from. The allocator keeps freed rows
// for reuse, and a run that refilled them would seem to take nothing: trimming first leaves only what is live.
qint64 clearedResidentBytes(MainWindow& window)
{
    window.results().Clear();
    QApplication::processEvents();
    malloc_trim(0);
    return residentBytes();
}

// Runs the extraction in the window, noting the events; the seconds it took.
double timedRun(MainWindow& window, TimedPump& events)
{
    events.start();
    QElapsedTimer clock;
    clock.start();
    window.PushButton7_Click();
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    events.finish();
    return seconds;
}

void choose(MainWindow& window, int option)
{
    window.findChild<QRadioButton*>(QStringLiteral("Option%1").arg(option))->setChecked(true);
}

QString oneLine(const QStringList& boxes)
{
    return boxes.isEmpty() ? QStringLiteral("(nothing)")
                           : QString(boxes.join(" // ")).replace("\r\n", " / ").replace('\r', " / ");
}

// Counts the frames the results view really paints: a repaint of a hidden or unchanged viewport paints nothing.
class PaintCounter final : public QObject
{
public:
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

struct Options
{
    QString corpus = QDir::tempPath() + "/quillory-bench-corpus";
    QString extractor = QApplication::applicationDirPath() + "/../cli/quillory-extract";
    int runs = 3;
    int jobs = QThread::idealThreadCount();
    qint64 manyRows = 10'000'000;
    double hugeMB = 200;
    int scrollSteps = 200;
    std::set<std::string> parts = {"speed", "many", "huge"};
    std::set<int> modes = {1, 2, 3, 4};
};

int usage()
{
    std::fprintf(stderr,
                 "usage: quillory-window-bench [--corpus DIR] [--extract PATH] [--runs K] [--jobs N]\n"
                 "                             [--many-rows N] [--scroll-steps N] [--huge-mb MB]\n"
                 "                             [--options LIST] [--only PARTS | --skip PARTS]\n"
                 "  --corpus DIR       the pages quillory-bench generates (default $TMPDIR/quillory-bench-corpus)\n"
                 "  --extract PATH     quillory-extract to time against (default ../cli/quillory-extract)\n"
                 "  --runs K           runs of each option in speed; the fastest counts (default 3)\n"
                 "  --jobs N           files the window and quillory-extract work on at once (default: the cores)\n"
                 "  --many-rows N      rows the many part asks for at least (default 10000000)\n"
                 "  --scroll-steps N   frames of the scroll each way (default 200)\n"
                 "  --huge-mb MB       the text of the huge page's one element (default 200)\n"
                 "  --options LIST     the options speed times (comma-separated; default 1,2,3,4)\n"
                 "  --only PARTS       run only these of speed,many,huge (comma-separated)\n"
                 "  --skip PARTS       run all but these\n");
    return 2;
}

std::set<std::string> splitParts(const std::string& list)
{
    std::set<std::string> parts;
    std::istringstream in(list);
    for (std::string part; std::getline(in, part, ',');)
        parts.insert(part);
    return parts;
}

bool parseOptions(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; i += 2) {
        const std::string name = argv[i];
        if (i + 1 >= argc)
            return false;
        const char* value = argv[i + 1];
        if (name == "--corpus")
            options.corpus = value;
        else if (name == "--extract")
            options.extractor = value;
        else if (name == "--runs")
            options.runs = std::max(1, std::atoi(value));
        else if (name == "--jobs")
            options.jobs = std::max(1, std::atoi(value));
        else if (name == "--many-rows")
            options.manyRows = std::max(1LL, std::atoll(value));
        else if (name == "--scroll-steps")
            options.scrollSteps = std::max(1, std::atoi(value));
        else if (name == "--huge-mb")
            options.hugeMB = std::max(0.001, std::atof(value));
        else if (name == "--options") {
            options.modes.clear();
            for (const std::string& mode : splitParts(value)) {
                if (mode != "1" && mode != "2" && mode != "3" && mode != "4")
                    return false;
                options.modes.insert(std::atoi(mode.c_str()));
            }
        } else if (name == "--only" || name == "--skip") {
            const std::set<std::string> named = splitParts(value);
            for (const std::string& part : named)
                if (part != "speed" && part != "many" && part != "huge")
                    return false;
            if (name == "--only")
                options.parts = named;
            else
                for (const std::string& part : named)
                    options.parts.erase(part);
        } else
            return false;
    }
    return true;
}

struct Bench
{
    const Options& options;
    MainWindow& window;
    TimedPump& events;
    BenchDialogs& dialogs;
    const QTemporaryDir& scratch;
    QStringList paths;
    std::vector<std::string> files;
    int rowsPerListing = -1; // option 4's rows on the corpus, once known

    bool speed();
    bool many();
    bool huge();
};

bool Bench::speed()
{
    const std::string extractor = options.extractor.toStdString();
    const std::string outPath = scratch.filePath("extract.out").toStdString();
    window.inputFiles().Clear();
    window.inputFiles().AppendMany(paths);

    std::printf("== speed: %zu files, the window with %d jobs against quillory-extract -j %d and -j 1; best of %d\n\n",
                files.size(), options.jobs, options.jobs, options.runs);
    char cliN[24];
    std::snprintf(cliN, sizeof cliN, "cli -j%d s", options.jobs);
    std::printf("%-6s %10s %10s %8s %10s %10s %12s %13s %11s %11s\n", "option", "window s", cliN, "ratio", "cli -j1 s",
                "rows", "longest gap", "held per row", "cores busy", "window CPU");
    for (const int mode : options.modes) {
        choose(window, mode);
        double windowBest = 1e9, cliBest = 1e9, cliOneBest = 1e9, worstGap = 0, windowBusy = 0, cliBusy = 0;
        double windowCpu = 1e9;
        qint64 heldDelta = 0;
        for (int round = 0; round < options.runs; ++round) {
            const qint64 before = clearedResidentBytes(window);
            const CpuTicks windowStart = cpuTicks();
            const double cpuStart = ownCpuSeconds();
            const double seconds = timedRun(window, events);
            windowCpu = std::min(windowCpu, ownCpuSeconds() - cpuStart);
            const CpuTicks windowEnd = cpuTicks();
            // The last round's: the first also holds what the window keeps once it has run at all.
            heldDelta = residentBytes() - before;
            if (seconds < windowBest)
                windowBusy = busyPercent(windowStart, windowEnd);
            windowBest = std::min(windowBest, seconds);
            worstGap = std::max(worstGap, events.longestGapMs());
            const CpuTicks cliStart = cpuTicks();
            const double cli = runExtractor(extractor, options.jobs, mode, files, outPath);
            const CpuTicks cliEnd = cpuTicks();
            const double cliOne = runExtractor(extractor, 1, mode, files, outPath);
            if (cli < 0 || cliOne < 0) {
                std::fprintf(stderr, "quillory-window-bench: %s failed\n", extractor.c_str());
                return false;
            }
            if (cli < cliBest)
                cliBusy = busyPercent(cliStart, cliEnd);
            cliBest = std::min(cliBest, cli);
            cliOneBest = std::min(cliOneBest, cliOne);
        }
        const int rows = window.results().Count();
        if (mode == 4)
            rowsPerListing = rows;
        std::printf("%-6d %10.3f %10.3f %8.2f %10.3f %10d %9.1f ms %9.0f B/row %4.0f/%3.0f %% %9.3f s\n", mode,
                    windowBest, cliBest, windowBest / cliBest, cliOneBest, rows, worstGap,
                    rows > 0 ? double(heldDelta) / rows : 0.0, windowBusy, cliBusy, windowCpu);
        std::fflush(stdout);
    }
    window.results().Clear();
    std::printf("\n");
    return true;
}

bool Bench::many()
{
    choose(window, 4);
    window.inputFiles().Clear();
    if (rowsPerListing < 0) {
        window.inputFiles().AppendMany(paths);
        clearedResidentBytes(window);
        window.PushButton7_Click();
        rowsPerListing = window.results().Count();
        window.inputFiles().Clear();
    }
    if (rowsPerListing <= 0) {
        std::fprintf(stderr, "quillory-window-bench: option 4 gives no rows on the corpus\n");
        return false;
    }
    const qint64 listings = (options.manyRows + rowsPerListing - 1) / rowsPerListing;
    QStringList repeated;
    repeated.reserve(qsizetype(listings * paths.size()));
    for (qint64 i = 0; i < listings; ++i)
        repeated += paths;
    window.inputFiles().AppendMany(repeated);
    std::printf("== many: option 4 on the corpus listed %lld times (%lld files, %d rows a listing), %d jobs\n\n",
                listings, qint64(repeated.size()), rowsPerListing, options.jobs);

    const qint64 before = clearedResidentBytes(window);
    dialogs.shown.clear();
    const double seconds = timedRun(window, events);
    const qint64 after = residentBytes();
    const int rows = window.results().Count();
    // Read after the memory, since the text read out takes memory of its own while it is counted.
    qint64 utf8 = 0;
    for (int i = 1; i <= rows; ++i)
        utf8 += window.results().Text(i).toUtf8().size();
    const qint64 delta = after - before;
    std::printf("%-30s %14.2f s\n", "run", seconds);
    std::printf("%-30s %14.1f ms\n", "longest gap", events.longestGapMs());
    std::printf("%-30s %14d\n", "rows", rows);
    std::printf("%-30s %14.1f MB\n", "rows' UTF-8", double(utf8) / kMB);
    std::printf("%-30s %14.1f MB (%.0f MB before, %.0f MB after)\n", "RSS after - before", double(delta) / kMB,
                double(before) / kMB, double(after) / kMB);
    std::printf("%-30s %14.1f B/row\n", "overhead per row", rows > 0 ? double(delta - utf8) / rows : 0.0);
    if (!dialogs.shown.isEmpty())
        std::printf("the window said: %s\n", qPrintable(oneLine(dialogs.shown)));
    std::fflush(stdout);

    // The scroll: the view is told of the last rows when the window next returns to its event loop.
    auto* view = window.findChild<QTableView*>(QStringLiteral("ListView2"));
    if (!view) {
        std::fprintf(stderr, "quillory-window-bench: no ListView2\n");
        return false;
    }
    QElapsedTimer waited;
    waited.start();
    while (view->model()->rowCount() < rows && waited.elapsed() < 30000)
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    QApplication::processEvents();
    PaintCounter counter;
    view->viewport()->installEventFilter(&counter);
    QScrollBar* bar = view->verticalScrollBar();
    const qint64 top = bar->minimum(), end = bar->maximum();
    std::vector<double> frames;
    QElapsedTimer clock;
    const int steps = options.scrollSteps;
    for (int pass = 0; pass < 2; ++pass) {
        for (int k = 1; k <= steps; ++k) {
            const qint64 toward = pass == 0 ? k : steps - k;
            clock.start();
            bar->setValue(int(top + (end - top) * toward / steps));
            view->viewport()->repaint();
            frames.push_back(double(clock.nsecsElapsed()) / 1e6);
        }
    }
    view->viewport()->removeEventFilter(&counter);
    double sum = 0;
    for (const double frame : frames)
        sum += frame;
    std::printf("\nscroll of the results view (%d of %d rows shown to it, scroll bar 0..%lld), %d steps each way\n",
                view->model()->rowCount(), rows, end, steps);
    std::printf("%-30s %14.2f ms\n", "longest frame", *std::max_element(frames.begin(), frames.end()));
    std::printf("%-30s %14.2f ms\n", "mean frame", sum / double(frames.size()));
    std::printf("%-30s %14d of %zu\n", "frames painted", counter.paints, frames.size());
    std::printf("\n");
    std::fflush(stdout);

    window.results().Clear();
    window.inputFiles().Clear();
    return true;
}

bool Bench::huge()
{
    const QString page = scratch.filePath("huge.html");
    {
        QFile out(page);
        if (!out.open(QIODevice::WriteOnly)) {
            std::fprintf(stderr, "quillory-window-bench: cannot write %s\n", qPrintable(page));
            return false;
        }
        const QByteArray block = QByteArray("word ").repeated(1 << 18);
        const qint64 target = qint64(options.hugeMB * kMB);
        out.write("<p>");
        for (qint64 written = 0; written < target; written += block.size())
            out.write(block.left(int(std::min<qint64>(block.size(), target - written))));
        out.write("</p>");
    }
    const double pageMB = double(QFileInfo(page).size()) / kMB;
    std::printf("== huge: option 1 on a page of one <p> holding %.1f MB of \"word \", then the window's save\n\n",
                pageMB);

    window.inputFiles().Clear();
    window.inputFiles().Append(page);
    choose(window, 1);
    clearedResidentBytes(window);
    dialogs.shown.clear();
    const double runSeconds = timedRun(window, events);
    const double runGap = events.longestGapMs();
    const int rows = window.results().Count();
    qint64 rowsBytes = 0;
    for (int i = 1; i <= rows; ++i)
        rowsBytes += window.results().Text(i).toUtf8().size();
    std::printf("%-30s %14.2f s\n", "run", runSeconds);
    std::printf("%-30s %14.1f ms\n", "run's longest gap", runGap);
    std::printf("%-30s %14d\n", "rows", rows);
    std::printf("%-30s %14.1f MB\n", "rows' UTF-8", double(rowsBytes) / kMB);
    if (!dialogs.shown.isEmpty())
        std::printf("the window said: %s\n", qPrintable(oneLine(dialogs.shown)));
    QFile::remove(page);

    const QString saved = scratch.filePath("huge-saved.txt");
    events.start();
    QElapsedTimer clock;
    clock.start();
    const std::optional<ExportFailure> failure = SaveResultsAsText(saved, window.results(), events);
    const double saveSeconds = double(clock.nsecsElapsed()) / 1e9;
    events.finish();
    const qint64 savedBytes = QFileInfo(saved).size();
    // Each row is written as its text and CR LF.
    const qint64 expected = rowsBytes + 2 * qint64(rows);
    std::printf("%-30s %14.2f s\n", "save", saveSeconds);
    std::printf("%-30s %14.1f ms\n", "save's longest gap", events.longestGapMs());
    std::printf("%-30s %14lld bytes: %s\n", "saved file", savedBytes,
                failure                  ? qPrintable("the save failed: " + failure->description)
                : savedBytes == expected ? "the rows' bytes + CR LF each, as it should be"
                                         : qPrintable(QStringLiteral("expected %1").arg(expected)));
    std::printf("\n");
    std::fflush(stdout);
    QFile::remove(saved);
    window.results().Clear();
    window.inputFiles().Clear();
    return rows == 1 && !failure && savedBytes == expected;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);

    Options options;
    if (!parseOptions(argc, argv, options))
        return usage();

    QTemporaryDir scratch(QDir::tempPath() + "/quillory-window-bench-XXXXXX");
    SettingsStore settings(scratch.filePath("settings.ini"));
    BenchDialogs dialogs;
    TimedPump events;
    NoClipboard clipboard;
    NoShell shell;
    const QString worker = QApplication::applicationDirPath() + "/../app/quillory-worker";
    const auto documents = [worker] {
        return createWorkerDocuments(DefaultDocumentWorkers(worker));
    };
    WindowServices services{dialogs, clipboard, shell, settings, events, [] {}, scratch.path(), documents};
    // As many files at once as quillory-extract is given, so that their times compare.
    services.jobs = options.jobs;
    MainWindow window(services);
    window.recordSampleFiles = [] {
    };
    window.Form_Load();
    window.show();
    window.findChild<QLineEdit*>("Text1")->setText("tr");
    window.findChild<QLineEdit*>("Text2")->setText("one");

    Bench bench{options, window, events, dialogs, scratch, {}, {}};
    if (options.parts.count("speed") || options.parts.count("many")) {
        const QStringList pages = QDir(options.corpus).entryList({"page-*.html"}, QDir::Files, QDir::Name);
        if (pages.isEmpty()) {
            std::fprintf(stderr, "quillory-window-bench: no corpus in %s (run quillory-bench first)\n",
                         qPrintable(options.corpus));
            return 1;
        }
        for (const QString& page : pages) {
            bench.paths << QDir(options.corpus).filePath(page);
            bench.files.push_back(bench.paths.last().toStdString());
        }
    }

    bool ok = true;
    if (options.parts.count("speed"))
        ok = bench.speed() && ok;
    if (options.parts.count("many"))
        ok = bench.many() && ok;
    if (options.parts.count("huge"))
        ok = bench.huge() && ok;

    // What the figures of the parts that ran mean.
    if (options.parts.count("speed"))
        std::printf(
            "speed: seconds are the best of the runs; ratio is the window's time over quillory-extract's with "
            "the same number of jobs, and -j1 is quillory-extract on one core, for reference. The longest gap "
            "is the longest time the window's thread went without processing events in any run (option 3 "
            "never yields, by design). Held per row is the resident memory after the last run less that "
            "before it (read once the previous rows were cleared and freed memory handed back), over the "
            "rows. Cores busy is the share of all the machine's cores in use during the fastest window run "
            "and the fastest quillory-extract run with N jobs. Window CPU is the processor time of the window's own "
            "process (its thread and the threads that take rows from the workers, not the workers), the least "
            "of the runs.\n");
    if (options.parts.count("many"))
        std::printf("many: the overhead per row is that same memory less the rows' UTF-8 text, over the rows; a frame "
                    "is one step of the scroll bar and the repaint of the view's viewport.\n");
    if (options.parts.count("huge"))
        std::printf("huge: the gaps are the longest the window's thread went without events while the row arrived, "
                    "and while the window's save wrote it.\n");
    std::printf("The machine may be busy with other work: figures vary from run to run.\n");
    return ok ? 0 : 1;
}
