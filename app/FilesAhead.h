#pragma once

#include "DocumentSource.h"
#include "ExtractionMode.h"
#include "RowBatch.h"

#include <QString>

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

class DocumentService;
class EventPump;

// What a file is worked on with: its path, and the option and tag name its rows are made with.
struct FilePlan
{
    QString path;
    ExtractionMode mode = ExtractionMode::LeafTexts;
    QString tagName;
};

// The files of a window's run worked on at once: the one whose rows are joining the list (the file in turn) and
// those after it, each loaded by the run's document service and turned into rows on a thread of its own, so that as
// many files as there are workers are parsed and made into rows while the window's thread only joins finished rows
// to the list, in file order.
//
// A file begun ahead of its turn makes its rows with the option and tag name in force when it was begun. The window
// reads them anew once the file's document is ready; where they differ by then, the rows made ahead are thrown away
// and the file is loaded again (see matches). The file in turn makes no rows until the window says with what (go),
// so a change made while its document loads always counts.
//
// Every function runs on the window's thread, which is the only one that starts a document's load: on Linux a worker
// process ends with the thread that started it.
class FilesAhead
{
public:
    class File;

    FilesAhead(DocumentService& documents, EventPump& events, int jobs);
    // Drops every file (see clear).
    ~FilesAhead();
    FilesAhead(const FilesAhead&) = delete;
    FilesAhead& operator=(const FilesAhead&) = delete;

    // The file in turn: the one begun for this position and path if it leads, else (after dropping every file in
    // hand) one begun now. No rows are made ahead for it from here on unless they were begun already.
    File& turn(int position, const QString& path);
    // Begins files after the last one in hand while the limits allow: two busy files for each job (a large file
    // counting as two), and the rows made ahead within their budget. plan says what a position is worked on with, or
    // nothing to begin no further for now.
    void fill(const std::function<std::optional<FilePlan>(int position)>& plan);

    bool documentReady(const File& file) const;
    // Once the document is ready: why there is none, if there is none.
    std::optional<ExtractionFailure> documentFailure(const File& file) const;
    // Whether rows made for the file (or being made) are the ones mode and tagName give.
    bool matches(const File& file, ExtractionMode mode, const QString& tagName) const;
    // Loads the file in turn afresh, its rows made ahead thrown away.
    File& reload();
    // Has the file in turn make its rows with mode and tagName, unless it is making them already.
    void go(File& file, ExtractionMode mode, const QString& tagName);

    // The rows the file has made since the last call, in order; done once every row is taken, with the failure that
    // ended them, if any.
    struct Taken
    {
        std::deque<RowBatch> batches;
        bool done = false;
        std::optional<ExtractionFailure> failure;
    };
    Taken take(File& file);
    // The file in turn is done with: the next file leads.
    void finishTurn();
    // Gives an emptied batch back, for its buffers to take more rows.
    void recycle(RowBatch&& batch);

    // Drops every file: the file in turn at once, the files ahead after a moment unless they end by then (loads
    // abandoned, rows cut short); the window's events are processed while a load that cannot be cut short runs to
    // its end.
    void clear();

private:
    // Begins a file; one in turn always is (failed at once when nothing can read it), one ahead not when the system
    // refuses it a worker or a thread (nothing then).
    File* begin(int position, FilePlan plan, bool inTurn);
    // The files that hold a worker or wait for a thread: every one not yet ended.
    std::size_t holding() const;
    // What each of the threads does: takes the next file begun and works on it.
    void serve();
    void work(File& file);
    // Hands a batch of rows over, waiting while too many rows are waiting for the window; throws Cancelled when the
    // file is dropped meanwhile.
    void handOver(File& file, RowBatch& batch);
    RowBatch spareBatch();
    // Ends the file's work at its next chance: its load is abandoned and its rows are cut short.
    void cutShort(File& file);
    void reapFinished();
    void changed();

    DocumentService& m_documents;
    EventPump& m_events;
    const std::size_t m_jobs;
    // The most files in hand at once: as many as the system gave workers and threads to, once it refused one more.
    std::size_t m_capacity = std::size_t(-1);
    std::deque<std::unique_ptr<File>> m_files;     // in file order; the front one is in turn
    std::vector<std::unique_ptr<File>> m_finished; // taken, their threads not yet done with them
    std::vector<std::thread> m_threads;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::condition_variable m_tasks;
    std::deque<File*> m_queue; // begun, waiting for a thread
    std::size_t m_idleThreads = 0;
    bool m_closing = false;
    std::size_t m_waitingBytes = 0; // rows made and not yet taken, over every file
    std::vector<RowBatch> m_spare;
};
