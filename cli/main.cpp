// quillory-extract: the extraction without the window, for scripts and measurements.

#include "AddFolder.h"
#include "DocumentWorkers.h"
#include "EventPump.h"
#include "ExtractionModes.h"
#include "FileAttributes.h"
#include "FileNames.h"
#include "FileSystem.h"
#include "OrderedExtraction.h"
#include "ProgressLine.h"
#include "ResultsFormat.h"
#include "RowFormats.h"
#include "RunChecks.h"
#include "SaveFile.h"
#include "Steps.h"
#include "WorkerProcess.h"

#include <QThread>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

constexpr const char* kUsage =
    "Usage: quillory-extract [-m|--mode 1-4] [-t|--tag NAME] [-s|--search TEXT]\n"
    "                        [--save-text FILE | --save-csv FILE] FILE...\n"
    "\n"
    "Pulls HTML tags, or the data between tags, out of the files named, in order.\n"
    "\n"
    "  -m, --mode N        1  all data between all tags (the text of every innermost element)\n"
    "                      2  data and tag between the tag NAME (each element's markup, by line)\n"
    "                      3  every line containing TEXT (any case; the file is not parsed)\n"
    "                      4  all tags in the file (every element's name)\n"
    "                      default 1\n"
    "  -t, --tag NAME      the tag for mode 2, without < / or > (default \"tr\")\n"
    "  -s, --search TEXT   the tag or data for mode 3 (default \"one\")\n"
    "      --save-text F   write the rows to F as text lines (ANSI, CR LF) instead of printing\n"
    "      --save-csv F    write the rows to F as one comma-delimited line (ANSI, CR LF)\n"
    "      --ext EXT       for folder arguments: take only files matching *.EXT (default: every file)\n"
    "  -j, --jobs N        parse up to N files at once (default: the number of cores); the rows\n"
    "                      still come out in the files' order, the same bytes as with --jobs 1\n"
    "  -H, --with-filename print each row after its file's name and a tab (the name as given, or as\n"
    "                      found under a folder); --no-filename: not (the default)\n"
    "      --format F      how rows are printed: text (the default), tsv (name, tab, row; tab, line\n"
    "                      feed, carriage return and backslash written \\t \\n \\r \\\\) or jsonl (one\n"
    "                      {\"file\": ..., \"row\": ...} object a line; bytes that are not UTF-8 as \\udcXX)\n"
    "      --files-from F  also extract the files named in F, one a line (- for standard input),\n"
    "                      after those named as arguments; the list is read as the run goes\n"
    "  -0, --null          names in the list end with a NUL byte, as find's print0 writes them\n"
    "      --progress      show how far the run has come on standard error (the default when\n"
    "                      standard error is a terminal); --no-progress: never\n"
    "  -h, --help          show this help\n"
    "      --version       show the version\n"
    "\n"
    "A folder given as FILE is walked with every folder beneath it, breadth-first.\n"
    "Rows are printed in UTF-8, one per line. A file that cannot be read is reported on\n"
    "standard error and the others are still extracted.\n"
    "Ctrl+C stops the run: the rows already written stay, and a save in progress leaves the\n"
    "file it would replace as it was.\n"
    "Exit status: 0 done, 1 some file or the save failed, 2 nothing to do or a bad option,\n"
    "130 stopped by Ctrl+C (128 + the signal's number for other signals that end it).\n";

constexpr const char* kWorkerMode = "--document-worker";

struct Options
{
    ExtractionMode mode = ExtractionMode::LeafTexts;
    QString tagName = QStringLiteral("tr");
    QString searchText = QStringLiteral("one");
    std::optional<QString> saveText;
    std::optional<QString> saveCsv;
    QString extension;
    int jobs = 0;                 // 0: one per core
    std::optional<bool> progress; // unset: when standard error is a terminal
    RowFormats::Format format = RowFormats::Format::Text;
    std::optional<std::string> filesFrom; // "-": standard input
    bool nulSeparated = false;
    bool withFileName = false;
    std::vector<std::string> files;
};

[[noreturn]] void usageError(const std::string& message)
{
    std::fprintf(stderr, "quillory-extract: %s\nTry 'quillory-extract --help'.\n", message.c_str());
    std::exit(2);
}

QString fromArgument(const char* argument)
{
    return QString::fromLocal8Bit(argument);
}

Options parseArguments(int argc, char** argv)
{
    Options options;
    bool onlyFiles = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (onlyFiles || argument.empty() || argument[0] != '-' || argument == "-") {
            options.files.push_back(argument);
            continue;
        }
        if (argument == "--") {
            onlyFiles = true;
            continue;
        }
        if (argument == "-h" || argument == "--help") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        }
        if (argument == "-0" || argument == "--null") {
            options.nulSeparated = true;
            continue;
        }
        if (argument == "-H" || argument == "--with-filename" || argument == "--no-filename") {
            options.withFileName = argument != "--no-filename";
            continue;
        }
        if (argument == "--progress" || argument == "--no-progress") {
            options.progress = argument == "--progress";
            continue;
        }
        if (argument == "--version") {
            std::printf("quillory-extract %s\n", QUILLORY_VERSION);
            std::exit(0);
        }

        // Options with a value: "--mode 2", "--mode=2", "-m 2" or "-m2".
        std::string name = argument;
        std::string value;
        bool hasValue = false;
        if (argument.rfind("--", 0) == 0) {
            const std::size_t equals = argument.find('=');
            if (equals != std::string::npos) {
                name = argument.substr(0, equals);
                value = argument.substr(equals + 1);
                hasValue = true;
            }
        } else if (argument.size() > 2) {
            name = argument.substr(0, 2);
            value = argument.substr(2);
            hasValue = true;
        }
        const bool known = name == "-m" || name == "--mode" || name == "-t" || name == "--tag" || name == "-s" ||
                           name == "--search" || name == "--save-text" || name == "--save-csv" || name == "--ext" ||
                           name == "-j" || name == "--jobs" || name == "--format" || name == "--files-from";
        if (!known)
            usageError("unknown option '" + argument + "'");
        if (!hasValue) {
            if (i + 1 >= argc)
                usageError("option '" + name + "' needs a value");
            value = argv[++i];
        }

        if (name == "-m" || name == "--mode") {
            if (value.size() != 1 || value[0] < '1' || value[0] > '4')
                usageError("the mode must be 1, 2, 3 or 4, not '" + value + "'");
            options.mode = ExtractionMode(value[0] - '0');
        } else if (name == "-t" || name == "--tag") {
            options.tagName = fromArgument(value.c_str());
        } else if (name == "-s" || name == "--search") {
            options.searchText = fromArgument(value.c_str());
        } else if (name == "-j" || name == "--jobs") {
            char* end = nullptr;
            errno = 0;
            const long jobs = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || errno != 0 || jobs < 1 || jobs > 256)
                usageError("the number of jobs must be from 1 to 256, not '" + value + "'");
            options.jobs = int(jobs);
        } else if (name == "--files-from") {
            if (value.empty())
                usageError("option '--files-from' needs a file name, not an empty one");
            options.filesFrom = value;
        } else if (name == "--format") {
            if (value == "text")
                options.format = RowFormats::Format::Text;
            else if (value == "tsv")
                options.format = RowFormats::Format::Tsv;
            else if (value == "jsonl")
                options.format = RowFormats::Format::Jsonl;
            else
                usageError("the format must be text, tsv or jsonl, not '" + value + "'");
        } else if (name == "--ext") {
            options.extension = fromArgument(value.c_str());
        } else {
            // An empty name is a slip (an unset variable in a script), not a wish to print.
            if (value.empty())
                usageError("option '" + name + "' needs a file name, not an empty one");
            (name == "--save-text" ? options.saveText : options.saveCsv) = FileNames::fromNative(value.c_str());
        }
    }
    if (options.saveText && options.saveCsv)
        usageError("--save-text and --save-csv cannot be used together");
    if ((options.saveText || options.saveCsv) && (options.withFileName || options.format != RowFormats::Format::Text))
        usageError("--with-filename and --format are for printed rows, not for --save-text or --save-csv");
    return options;
}

// Ctrl+C and the other signals that end a program: the run stops at its next chunk of rows, and the workers, which
// may be deep in a large page, are ended at once so that it need not wait for them.
std::atomic<bool> g_stopRequested{false};
volatile std::sig_atomic_t g_stopSignal = 0;

extern "C" void onStopSignal(int signal)
{
    g_stopSignal = signal;
    g_stopRequested.store(true);
    WorkerProcess::InterruptAll();
}

void catchStopSignals()
{
#ifdef Q_OS_UNIX
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
#else
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
#endif
}

// A list of file names, one an entry, read one entry at a time so that a list of any length costs the same memory.
// Empty entries (blank lines) are passed over.
class ListReader
{
public:
    ListReader(std::string path, bool nulSeparated) : m_path(std::move(path)), m_delimiter(nulSeparated ? '\0' : '\n')
    {}
    ~ListReader()
    {
        std::free(m_line);
        if (m_file && m_file != stdin)
            std::fclose(m_file);
    }
    ListReader(const ListReader&) = delete;
    ListReader& operator=(const ListReader&) = delete;

    bool open()
    {
        m_file = m_path == "-" ? stdin : std::fopen(m_path.c_str(), "rb");
        return m_file != nullptr;
    }

    std::optional<QByteArray> next()
    {
        for (;;) {
            ssize_t length = ::getdelim(&m_line, &m_capacity, m_delimiter, m_file);
            if (length < 0)
                return std::nullopt;
            if (length > 0 && m_line[length - 1] == m_delimiter)
                --length;
            if (length > 0)
                return QByteArray(m_line, qsizetype(length));
        }
    }

private:
    std::string m_path;
    int m_delimiter;
    std::FILE* m_file = nullptr;
    char* m_line = nullptr;
    std::size_t m_capacity = 0;
};

// Thrown out of a folder walk that the user stopped.
struct Stopped
{
};

// The walk lets events through regularly: where a window would, the command line sees whether it was stopped.
class NoEvents final : public EventPump
{
public:
    void processEvents() override
    {
        if (g_stopRequested.load())
            throw Stopped{};
    }
    void waitForEvents() override { processEvents(); }
    void wake() override {}
};

void reportSaveFailure(const QString& path, const SaveFile& file)
{
    std::fprintf(stderr, "quillory-extract: %s: could not be saved: %s\n", FileNames::toNative(path).constData(),
                 file.errorString().toLocal8Bit().constData());
}

} // namespace

int main(int argc, char** argv)
{
    // The same program parses the pages, in worker processes of its own (see DocumentWorker).
    if (argc > 1 && std::strcmp(argv[1], kWorkerMode) == 0) {
        QStringList arguments;
        for (int i = 2; i < argc; ++i)
            arguments << QString::fromLocal8Bit(argv[i]);
        return ServeDocuments(arguments);
    }
    const Options options = parseArguments(argc, argv);
    if (const std::optional<QString> message =
            CheckRunInputs(qsizetype(options.files.size()) + (options.filesFrom ? 1 : 0), options.mode, options.tagName,
                           options.searchText)) {
        std::fprintf(stderr, "%s\n", message->toLocal8Bit().constData());
        return 2;
    }

    catchStopSignals();
    const std::optional<QString>& savePath = options.saveText ? options.saveText : options.saveCsv;
    static char outputBuffer[1 << 20];
    std::setvbuf(stdout, outputBuffer, _IOFBF, sizeof outputBuffer);

    // The rows stream into the save as they come, so a save holds no more in memory than printing does; the
    // target is replaced only once the last of them is written.
    std::optional<SaveFile> save;
    if (savePath) {
        save.emplace(*savePath);
        if (!save->open()) {
            reportSaveFailure(*savePath, *save);
            return 1;
        }
    }

    // Rows become bytes on the workers; the bytes are written here, in the files' order.
    OrderedExtraction::Format format;
    OrderedExtraction::Deliver deliver;
    if (save) {
        if (options.saveText)
            format = [](QByteArray& chunk, std::string_view, std::string_view row) {
                ResultsFormat::appendTextLine(chunk, QString::fromUtf8(row.data(), qsizetype(row.size())));
            };
        else
            format = [](QByteArray& chunk, std::string_view, std::string_view row) {
                ResultsFormat::appendCommaField(chunk, QString::fromUtf8(row.data(), qsizetype(row.size())));
            };
        deliver = [&](const QByteArray& chunk) {
            if (save->write(chunk))
                return;
            // Nothing more can reach the target: the rows still to come would be made for nothing.
            reportSaveFailure(*savePath, *save);
            save->cancel();
            std::fflush(nullptr);
            std::_Exit(1);
        };
    } else {
        const RowFormats::Format printed = options.format;
        format = [printed](QByteArray& chunk, std::string_view prefix, std::string_view row) {
            RowFormats::AppendRow(printed, chunk, prefix, row);
        };
        deliver = [](const QByteArray& chunk) {
            std::fwrite(chunk.constData(), 1, std::size_t(chunk.size()), stdout);
        };
    }

    int status = 0;
    // Ends the run the user stopped: what was written stays written, and a save leaves the old target as it was.
    const auto endStopped = [&] {
        std::fflush(stdout);
        if (save)
            save->cancel();
        return 128 + int(g_stopSignal);
    };

    // A folder stands for every file in it and beneath it, as when one is dropped on the window. Runs on the
    // workers too, for the entries of a list of files.
    NoEvents noEvents;
    std::atomic<bool> namesFailed{false};
    const auto expand = [&](const QByteArray& argument, std::deque<QString>& into) {
        const QString path = FileNames::fromNative(argument);
        if (!AddFolder::IsFolder(path)) {
            into.push_back(path);
            return;
        }
        // The walk passes over folders it cannot list; the one asked for by name is worth a word.
        if (const Result<QStringList> listing = ListDirectory(path, QStringLiteral("*"), false); !listing) {
            std::fprintf(stderr, "quillory-extract: %s: %s\n", argument.constData(),
                         listing.failure().description.toLocal8Bit().constData());
            namesFailed = true;
            return;
        }
        // A folder or file the scan cannot take is reported and left out; the rest of the folder still counts.
        const auto reportFailure = [&](auto, const QString& description) {
            std::fprintf(stderr, "quillory-extract: %s: %s\n", argument.constData(),
                         description.toLocal8Bit().constData());
            namesFailed = true;
        };
        Steps<AddFolder::ScanStep> scanSteps(reportFailure);
        Steps<AddFolder::WalkStep> walkSteps(reportFailure);
        AddFolder::ScanProgress scanned;
        const QStringList found = AddFolder::ScanFolder(
            path, options.extension.isEmpty() ? QStringLiteral("*.*") : QStringLiteral("*.") + options.extension,
            noEvents, scanSteps, walkSteps, &scanned);
        into.insert(into.end(), found.begin(), found.end());
    };
    std::deque<QString> pending;
    try {
        for (const std::string& argument : options.files)
            expand(QByteArray::fromStdString(argument), pending);
    } catch (const Stopped&) {
        return endStopped();
    }
    if (g_stopRequested.load())
        return endStopped();

    // The list of files, read as the run takes its entries.
    std::optional<ListReader> list;
    if (options.filesFrom) {
        list.emplace(*options.filesFrom, options.nulSeparated);
        if (!list->open()) {
            std::fprintf(stderr, "quillory-extract: %s: %s\n", options.filesFrom->c_str(), std::strerror(errno));
            return 2;
        }
    }
    const std::size_t named = pending.size();
    const OrderedExtraction::Source source = [&]() -> std::optional<QString> {
        try {
            while (pending.empty() && list) {
                const std::optional<QByteArray> entry = list->next();
                if (!entry)
                    break;
                expand(*entry, pending);
            }
        } catch (const Stopped&) {
            return std::nullopt;
        }
        if (pending.empty())
            return std::nullopt;
        QString file = std::move(pending.front());
        pending.pop_front();
        return file;
    };

    // With a list of files the whole count is not known in advance.
    ProgressLine progress(stderr, options.progress.value_or(::isatty(STDERR_FILENO) != 0), list ? 0 : named);
    OrderedExtraction extraction;
    extraction.mode = options.mode;
    extraction.texts = ExtractionTexts{options.tagName, options.searchText};
    extraction.jobs = options.jobs > 0 ? options.jobs : std::max(1, QThread::idealThreadCount());
    extraction.workers = DefaultDocumentWorkers(FileNames::programPath(), {QString::fromLatin1(kWorkerMode)});
    extraction.stopRequested = &g_stopRequested;
    if (!save && (options.withFileName || options.format != RowFormats::Format::Text)) {
        extraction.rowPrefix = [&options](const QString& file) {
            return RowFormats::Prefix(options.format, options.withFileName, FileNames::toNative(file));
        };
    }
    if (progress.shown()) {
        extraction.rowsDelivered = [&progress](std::size_t rows) {
            progress.rowsDelivered(rows);
        };
        extraction.fileFinished = [&progress](const QString& file) {
            progress.fileFinished(FileSystem::size(file));
        };
    }
    extraction.run(source, format, deliver, [&](const QString& file, const StepFailure& failure) {
        // A file lost to the stop is no failure of its own.
        if (g_stopRequested.load())
            return;
        progress.clear();
        std::fflush(stdout);
        std::fprintf(stderr, "quillory-extract: %s: %s (step %d)\n", FileNames::toNative(file).constData(),
                     failure.description.toLocal8Bit().constData(), failure.step);
        status = 1;
    });
    progress.clear();
    if (g_stopRequested.load())
        return endStopped();
    if (namesFailed.load())
        status = 1;

    if (save) {
        if ((options.saveCsv && !save->write(ResultsFormat::kLineEnd)) || !save->commit()) {
            reportSaveFailure(*savePath, *save);
            status = 1;
        }
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "quillory-extract: could not write the rows: %s\n", std::strerror(errno));
        status = 1;
    }
    return status;
}
