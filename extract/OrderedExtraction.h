#pragma once

#include "DocumentWorker.h"
#include "FileExtraction.h"

#include <QByteArray>
#include <QString>

#include <atomic>

#include <cstddef>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

// Extracts a list of files on several threads while handing their output back strictly in the
// list's order, so that the result is the same bytes whatever the number of threads.
//
// Each thread has a worker process of its own, which parses the thread's documents and makes their rows (see
// DocumentWorker), and formats the rows into chunks of bytes. A thread asks its worker for the next file before it
// takes the rows of this one, so the worker parses while the rows are formatted and written. The calling
// thread writes the chunks of the earliest unfinished file as they come, so a file with a huge
// output streams as it would on one thread; workers that run ahead stop once the bytes waiting
// for their turn pass a budget, which keeps memory bounded on any mix of files.
//
// A system that allows fewer threads or processes than the jobs asked for (a control group's process limit, say) gets
// fewer workers, down to one on the calling thread: a file whose worker cannot be started is taken by one that runs.
// Only a file for which no worker at all can be started is reported, with why.
struct OrderedExtraction
{
    // Appends one row, formatted, to a chunk, after the prefix of its file (see rowPrefix; empty without one). Runs
    // on the workers.
    using Format = std::function<void(QByteArray& chunk, std::string_view prefix, std::string_view row)>;
    // Takes a chunk of bytes. Runs on the calling thread, in file order.
    using Deliver = std::function<void(const QByteArray& chunk)>;
    // Hears of a file that failed, after the output of every file before it and whatever rows it gave itself.
    using Failed = std::function<void(const QString& file, const ExtractionFailure& failure)>;
    // Hears, on the calling thread and in file order, how many rows came with each chunk delivered, and of each
    // file whose output has all been delivered: for a progress display.
    using RowsDelivered = std::function<void(std::size_t rows)>;
    using FileFinished = std::function<void(const QString& file)>;

    // Writes a row too long to be held whole (a line of mode 3 longer than lineChunkBytes) as its parts come: begin
    // puts the file's prefix, part each piece of the row, end what ends it, also when the row's file failed part-way.
    // Runs on the workers. Unset: such a row is joined and given to the format whole.
    struct PartsFormat
    {
        std::function<void(QByteArray& chunk, std::string_view prefix)> begin;
        std::function<void(QByteArray& chunk, std::string_view part)> part;
        std::function<void(QByteArray& chunk)> end;
    };

    ExtractionMode mode = ExtractionMode::LeafTexts;
    ExtractionTexts texts;
    DocumentWorkerSettings workers;
    int jobs = 1;
    std::size_t chunkBytes = std::size_t(1) << 18;
    std::size_t aheadBudgetBytes = std::size_t(64) << 20;
    // Files larger than this wait for their turn to be written before they are read, so that at
    // most one of them is in memory at a time; 0 works it out from the machine's memory (and in mode 3, which reads
    // a file a chunk at a time, no file is large).
    qint64 largeFileBytes = 0;
    qsizetype lineChunkBytes = kLineChunkBytes;
    PartsFormat partsFormat = {};
    // The bytes to put before every row of a file (its name, say), worked out once per file and handed to the
    // format with each row. Runs on the workers.
    std::function<QByteArray(const QString& file)> rowPrefix = {};
    RowsDelivered rowsDelivered = {};
    FileFinished fileFinished = {};
    // Once set (from a signal handler, say), no further file is begun and run() returns after the chunk being
    // delivered; what was delivered stays delivered.
    const std::atomic<bool>* stopRequested = nullptr;
    // For a list that may have to wait for its next file (one read as another program writes it): whether next()
    // would answer at once. A file is taken ahead of the one in hand only when it is ready, so that the rows of the
    // files named so far never wait for a name still to come. Unset: always ready. Runs under next()'s rule.
    std::function<bool()> nextReady = {};
    // Called on the calling thread when all that was delivered is all there is until the list gives its next file:
    // the moment to flush the output, so that those rows reach their reader while the list waits.
    std::function<void()> waitingForList = {};

    void run(const std::vector<QString>& files, const Format& format, const Deliver& deliver,
             const Failed& failed) const;
    // The same over a list read as it is used: next() gives each file in turn, then nothing. Only the files in
    // hand are held, so a list of any length costs no more memory than a short one. next() runs on any thread,
    // one call at a time.
    using Source = std::function<std::optional<QString>()>;
    void run(const Source& next, const Format& format, const Deliver& deliver, const Failed& failed) const;

private:
    void run(const Source& next, std::size_t workers, const Format& format, const Deliver& deliver,
             const Failed& failed) const;
    // The run on the calling thread alone, with one worker.
    void runAlone(const Source& next, DocumentWorker& worker, const Format& format, const Deliver& deliver,
                  const Failed& failed) const;
};
