// quillory-extract: the extraction without the window, for scripts and measurements.

#include "Console.h"
#include "FileListSource.h"
#include "FileNames.h"
#include "FileSystem.h"
#include "Options.h"
#include "OrderedExtraction.h"
#include "ProgressLine.h"
#include "RowOutput.h"
#include "RunChecks.h"
#include "StandardStreams.h"
#include "StopSignals.h"
#include "WorkerServer.h"

#include <QThread>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

#ifdef Q_OS_WIN
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <string>
#include <vector>
#endif

namespace {

// What puts the program in the worker's place: it parses its own pages, in worker processes of its own.
constexpr const char* kWorkerMode = "--document-worker";

// What a file's failure cost, in words.
const char* stageWords(ExtractionStage stage)
{
    switch (stage) {
    case ExtractionStage::Read:
        return "cannot read";
    case ExtractionStage::Parse:
        return "cannot parse";
    case ExtractionStage::Rows:
        break;
    }
    return "rows cut short";
}

OrderedExtraction extractionFor(const Options& options, const RowOutput& output, ProgressLine& progress)
{
    OrderedExtraction extraction;
    extraction.mode = options.mode;
    extraction.texts = ExtractionTexts{options.tagName, options.searchText};
    extraction.jobs = options.jobs > 0 ? options.jobs : std::max(1, QThread::idealThreadCount());
    extraction.workers = DefaultDocumentWorkers(FileNames::programPath(), {QString::fromLatin1(kWorkerMode)});
    if (options.timeout)
        extraction.workers.timeLimit.base = std::chrono::seconds(*options.timeout);
    extraction.stopRequested = &StopSignals::Requested();
    extraction.rowPrefix = output.rowPrefix();
    extraction.partsFormat = output.partsFormat();
    if (progress.shown()) {
        extraction.rowsDelivered = [&progress](std::size_t rows) {
            progress.rowsDelivered(rows);
        };
        extraction.fileFinished = [&progress](const QString& file) {
            progress.fileFinished(FileSystem::size(file));
        };
    }
    return extraction;
}

QStringList argumentsAfter(int first, int argc, char** argv)
{
    QStringList arguments;
    for (int i = first; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

#ifdef Q_OS_WIN
// The arguments as the user typed them, in UTF-8: the ones the C runtime hands main are in the ANSI code page,
// where a name holding a character outside it would arrive with "?" in its place.
std::vector<char*> utf8Arguments(int& argc)
{
    static std::vector<std::string> storage;
    int count = 0;
    wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    for (int i = 0; i < count; ++i)
        storage.push_back(QString::fromWCharArray(wide[i]).toStdString());
    ::LocalFree(wide);
    std::vector<char*> pointers;
    for (std::string& argument : storage)
        pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    argc = count;
    return pointers;
}
#endif

} // namespace

int main(int argc, char** argv)
{
    StandardStreams::Secure();
#ifdef Q_OS_WIN
    std::vector<char*> utf8 = utf8Arguments(argc);
    argv = utf8.data();
#endif
    if (argc > 1 && std::strcmp(argv[1], kWorkerMode) == 0)
        return ServeDocuments(argumentsAfter(2, argc, argv));
    const Options options = ParseArguments(argc, argv);
    if (const std::optional<QString> message =
            CheckRunInputs(qsizetype(options.files.size()) + (options.filesFrom ? 1 : 0), options.mode, options.tagName,
                           options.searchText)) {
        std::fprintf(stderr, "%s\n", message->toLocal8Bit().constData());
        return 2;
    }
    StopSignals::Catch();
    RowOutput output(options);
    if (output.savesOverAnInput())
        return 2;
    if (!output.open())
        return StopSignals::Requested().load() ? output.stop(StopSignals::ExitStatus()) : 1;
    FileListSource files(options.extension, StopSignals::Requested(), options.verbose);
    if (!files.addArguments(options.files))
        return output.stop(StopSignals::ExitStatus());
    if (options.filesFrom && !files.openList(*options.filesFrom, options.nulSeparated))
        return 2;

    // With a list of files the whole count is not known in advance.
    const bool shown = options.progress.value_or(Console::IsConsole(stderr));
    ProgressLine progress(stderr, shown, files.hasList() ? 0 : files.named(), !shown || Console::TakesEscapes(stderr));
    int status = 0;
    OrderedExtraction extraction = extractionFor(options, output, progress);
    if (files.hasList()) {
        extraction.nextReady = [&files] {
            return files.ready();
        };
        extraction.waitingForList = [] {
            std::fflush(stdout);
        };
    }
    extraction.run([&files] { return files.next(); }, output.format(), output.deliver(),
                   [&](const QString& file, const ExtractionFailure& failure) {
                       // A file lost to the stop is no failure of its own.
                       if (StopSignals::Requested().load())
                           return;
                       progress.clear();
                       std::fflush(stdout);
                       std::fprintf(stderr, "quillory-extract: %s: %s: %s\n", FileNames::toNative(file).constData(),
                                    stageWords(failure.stage), failure.description.toLocal8Bit().constData());
                       status = 1;
                   });
    progress.clear();
    if (StopSignals::Requested().load())
        return output.stop(StopSignals::ExitStatus());
    return output.finish(files.namesFailed() ? 1 : status);
}
