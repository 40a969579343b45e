#include "FilesAhead.h"

#include "DocumentService.h"
#include "EventPump.h"
#include "FileSystem.h"

#include <QElapsedTimer>

#include <algorithm>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace {

// Thrown through a document's rows when its file is dropped, to end them there.
struct Cancelled
{
};

// A batch goes to the window once it holds this much, so that it joins the list as one block of its own.
constexpr qsizetype kBatchBytes = qsizetype(1) << 20;
constexpr qsizetype kBatchRows = qsizetype(1) << 16;
// A file whose rows come slowly still shows them this often.
constexpr qint64 kBatchMs = 20;
// The rows made ahead of their turn, over every file: a bound on the memory the files ahead take, never reached
// by ordinary pages.
constexpr std::size_t kAheadBytes = std::size_t(64) << 20;
// The rows of the file in turn that may wait for the window.
constexpr std::size_t kInTurnBytes = std::size_t(16) << 20;
// How long the files ahead of a stopped run may take to end on their own.
constexpr qint64 kGraceMs = 250;
// Files worked on at once for each job: while a worker waits for the window or for a thread to hand it its next
// step, the worker of the other file computes, so that the cores never idle between files.
constexpr std::size_t kFilesPerJob = 2;
// A file this large counts as one job's files: no more documents this large are held at once than there are jobs.
constexpr qint64 kLargeFileBytes = qint64(16) << 20;
// The most files in hand: rows of small files are made far ahead only while the file in turn is a slow one.
constexpr std::size_t kMostFiles = 64;
// Emptied batches kept for the threads to fill again: memory in use already costs no page faults.
constexpr std::size_t kMostSpare = 8;

} // namespace

class FilesAhead::File
{
public:
    int position = 0;
    std::size_t weight = 1; // how many files it counts as, while busy
    DocumentService::PreparedLoad load;

    // The rest is guarded by the mutex of FilesAhead.
    FilePlan plan;
    bool planned = false; // rows may be made with plan's mode and tag name once the document is ready
    bool inTurn = false;
    bool loadEnded = false;
    bool documentReady = false;
    std::optional<ExtractionFailure> documentFailure;
    bool making = false;                // rows are being made, with plan's mode and tag name
    LoadedDocument* document = nullptr; // the document making them
    std::deque<RowBatch> batches;
    std::size_t waitingBytes = 0;
    bool rowsDone = false;
    std::optional<ExtractionFailure> rowsFailure;
    bool cancelled = false;
    bool ended = false; // its thread has nothing more to do with it
};

FilesAhead::FilesAhead(DocumentService& documents, EventPump& events, int jobs)
    : m_documents(documents), m_events(events), m_jobs(std::size_t(std::max(jobs, 1)))
{}

FilesAhead::~FilesAhead()
{
    clear();
    {
        const std::lock_guard lock(m_mutex);
        m_closing = true;
    }
    m_tasks.notify_all();
    for (std::thread& thread : m_threads)
        thread.join();
}

void FilesAhead::changed()
{
    m_changed.notify_all();
    m_events.wake();
}

FilesAhead::File* FilesAhead::begin(int position, FilePlan plan, bool inTurn)
{
    DocumentService::PreparedLoad load = m_documents.prepare(plan.path);
    if (load.notStarted && inTurn) {
        // The workers still held by files that are done with them go back to the pool (one may have while this load
        // was prepared), where the file in turn may have one rather than a new one the system refuses.
        load = {};
        while (holding() > 0)
            m_events.waitForEvents();
        reapFinished();
        load = m_documents.prepare(plan.path);
    }
    if (load.notStarted && !inTurn) {
        // The system allows no more workers than the files in hand hold: no more files are begun ahead than that,
        // and this one is begun in its turn, or once a file in hand is done with its worker.
        m_capacity = holding();
        return nullptr;
    }
    auto file = std::make_unique<File>();
    File* const raw = file.get();
    raw->position = position;
    raw->weight = FileSystem::size(plan.path) >= kLargeFileBytes ? kFilesPerJob : 1;
    raw->plan = std::move(plan);
    raw->planned = !inTurn;
    raw->inTurn = inTurn;
    // Nothing runs that could take the file: it fails in its turn, with why.
    const auto failed = [&](const ExtractionFailure& failure) {
        const std::lock_guard lock(m_mutex);
        raw->loadEnded = raw->documentReady = raw->rowsDone = raw->ended = true;
        raw->documentFailure = failure;
    };
    if (load.notStarted) {
        failed(*load.notStarted);
        m_files.push_back(std::move(file));
        return raw;
    }
    raw->load = std::move(load);
    QString noThread;
    {
        // Threads are kept for the next files: one is started only when none is free.
        const std::lock_guard lock(m_mutex);
        m_queue.push_back(raw);
        if (m_idleThreads < m_queue.size()) {
            try {
                m_threads.emplace_back([this] { serve(); });
            } catch (const std::system_error& error) {
                // The system allows no more threads: the file waits for one of those there are, and no more files
                // are begun ahead than they can take. Without a thread at all, nothing can read the file.
                m_capacity = m_threads.size();
                if (m_threads.empty()) {
                    m_queue.pop_back();
                    noThread = QString::fromLocal8Bit(error.code().message());
                }
            }
        }
    }
    if (!noThread.isEmpty()) {
        raw->load = {};
        if (!inTurn)
            return nullptr;
        failed(ExtractionFailure{
            ExtractionStage::Parse,
            QStringLiteral("Internal error (no thread could be started to read the file: %1)").arg(noThread)});
    }
    m_files.push_back(std::move(file));
    m_tasks.notify_one();
    return raw;
}

std::size_t FilesAhead::holding() const
{
    const std::lock_guard lock(m_mutex);
    const auto held = [](const std::unique_ptr<File>& file) {
        return !file->ended;
    };
    return std::size_t(std::count_if(m_files.begin(), m_files.end(), held) +
                       std::count_if(m_finished.begin(), m_finished.end(), held));
}

void FilesAhead::serve()
{
    for (;;) {
        File* file = nullptr;
        {
            std::unique_lock lock(m_mutex);
            ++m_idleThreads;
            m_tasks.wait(lock, [&] { return m_closing || !m_queue.empty(); });
            --m_idleThreads;
            if (m_queue.empty())
                return;
            file = m_queue.front();
            m_queue.pop_front();
        }
        work(*file);
    }
}

void FilesAhead::work(File& file)
{
    DocumentResult opened = ExtractionFailure{ExtractionStage::Parse, QStringLiteral("Out of memory")};
    bool cancelled = false;
    {
        // A file dropped while it waited for a thread is not loaded at all.
        const std::lock_guard lock(m_mutex);
        cancelled = file.cancelled;
    }
    try {
        if (!cancelled)
            opened = file.load.work();
    } catch (const std::bad_alloc&) {
    }
    {
        // From here a stop no longer interrupts the load: its worker may go back to the pool, where an interrupt
        // would end it under the next file.
        const std::lock_guard lock(m_mutex);
        file.loadEnded = true;
    }
    // What the load held (a worker on loan, say) is let go with it.
    file.load.work = {};
    std::unique_ptr<LoadedDocument> document;
    FilePlan plan;
    {
        std::unique_lock lock(m_mutex);
        file.loadEnded = true;
        file.documentReady = true;
        if (opened) {
            document = std::move(*opened);
            changed();
            m_changed.wait(lock, [&] { return file.planned || file.cancelled; });
        } else {
            file.documentFailure = opened.failure();
        }
        if (!document || file.cancelled) {
            file.rowsDone = true;
            lock.unlock();
            document.reset();
            lock.lock();
            file.ended = true;
            changed();
            return;
        }
        file.making = true;
        file.document = document.get();
        plan = file.plan;
    }

    RowBatch batch = spareBatch();
    QElapsedTimer since;
    since.start();
    std::optional<ExtractionFailure> failure;
    try {
        failure = document->extract(plan.mode, plan.tagName, [&](std::string_view row) {
            batch.append(row);
            if (batch.bytes.size() >= kBatchBytes || batch.rows() >= kBatchRows ||
                ((batch.rows() & 1023) == 0 && since.elapsed() >= kBatchMs)) {
                handOver(file, batch);
                since.start();
            }
        });
    } catch (const Cancelled&) {
        batch.lengths.clear();
    } catch (const std::bad_alloc&) {
        failure = ExtractionFailure{ExtractionStage::Rows, QStringLiteral("Out of memory")};
    }
    {
        // The last rows and their end are taken together: the window ends the file's turn with its last rows, not
        // an event pass later.
        const std::lock_guard lock(m_mutex);
        file.document = nullptr;
        if (!batch.isEmpty()) {
            file.waitingBytes += std::size_t(batch.bytes.size());
            m_waitingBytes += std::size_t(batch.bytes.size());
            file.batches.push_back(std::move(batch));
        }
        file.rowsDone = true;
        file.rowsFailure = std::move(failure);
        changed();
    }
    // The worker holding the document goes back to the pool before the file stops counting as busy, so that the
    // next file borrows it rather than starting another.
    document.reset();
    const std::lock_guard lock(m_mutex);
    file.ended = true;
    changed();
}

RowBatch FilesAhead::spareBatch()
{
    RowBatch batch;
    {
        const std::lock_guard lock(m_mutex);
        if (!m_spare.empty()) {
            batch = std::move(m_spare.back());
            m_spare.pop_back();
        }
    }
    // A batch whose bytes the list kept as they stood comes back with its lengths only.
    if (batch.bytes.capacity() < kBatchBytes)
        batch.bytes.reserve(kBatchBytes + 4096);
    return batch;
}

void FilesAhead::recycle(RowBatch&& batch)
{
    // Its lengths are worth keeping even when its bytes went to the list: they are a quarter of a megabyte of
    // memory already in use.
    if (batch.bytes.capacity() < kBatchBytes && batch.lengths.capacity() < std::size_t(kBatchRows))
        return;
    batch.bytes.truncate(0);
    batch.lengths.clear();
    const std::lock_guard lock(m_mutex);
    if (m_spare.size() < kMostSpare)
        m_spare.push_back(std::move(batch));
}

void FilesAhead::handOver(File& file, RowBatch& batch)
{
    const std::size_t bytes = std::size_t(batch.bytes.size());
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] {
            return file.cancelled || (file.inTurn ? file.waitingBytes < kInTurnBytes : m_waitingBytes < kAheadBytes);
        });
        if (file.cancelled)
            throw Cancelled{};
        file.waitingBytes += bytes;
        m_waitingBytes += bytes;
        file.batches.push_back(std::move(batch));
        if (file.inTurn)
            m_events.wake();
    }
    batch = spareBatch();
}

FilesAhead::File& FilesAhead::turn(int position, const QString& path)
{
    if (!m_files.empty() && (m_files.front()->position != position || m_files.front()->plan.path != path))
        clear();
    File& file =
        m_files.empty() ? *begin(position, FilePlan{path, ExtractionMode::LeafTexts, {}}, true) : *m_files.front();
    const std::lock_guard lock(m_mutex);
    file.inTurn = true;
    // Its rows wait for the texts as they stand once its document is ready.
    if (!file.making)
        file.planned = false;
    m_changed.notify_all();
    return file;
}

void FilesAhead::fill(const std::function<std::optional<FilePlan>(int position)>& plan)
{
    reapFinished();
    while (!m_files.empty() && m_files.size() < kMostFiles) {
        {
            const std::lock_guard lock(m_mutex);
            std::size_t busy = 0;
            std::size_t holding = 0;
            const auto count = [&](const std::unique_ptr<File>& file) {
                busy += file->ended ? 0 : file->weight;
                holding += file->ended ? 0 : 1;
            };
            std::for_each(m_files.begin(), m_files.end(), count);
            std::for_each(m_finished.begin(), m_finished.end(), count);
            if (busy >= kFilesPerJob * m_jobs || holding >= m_capacity || m_waitingBytes >= kAheadBytes)
                return;
        }
        const int position = m_files.back()->position + 1;
        std::optional<FilePlan> next = plan(position);
        if (!next || !begin(position, std::move(*next), false))
            return;
    }
}

bool FilesAhead::documentReady(const File& file) const
{
    const std::lock_guard lock(m_mutex);
    return file.documentReady;
}

std::optional<ExtractionFailure> FilesAhead::documentFailure(const File& file) const
{
    const std::lock_guard lock(m_mutex);
    return file.documentFailure;
}

bool FilesAhead::matches(const File& file, ExtractionMode mode, const QString& tagName) const
{
    const std::lock_guard lock(m_mutex);
    if (!file.making)
        return true;
    // The tag name counts in option 2 only.
    return file.plan.mode == mode && (mode != ExtractionMode::ElementBlocks || file.plan.tagName == tagName);
}

FilesAhead::File& FilesAhead::reload()
{
    const int position = m_files.front()->position;
    const QString path = m_files.front()->plan.path;
    clear();
    return *begin(position, FilePlan{path, ExtractionMode::LeafTexts, {}}, true);
}

void FilesAhead::go(File& file, ExtractionMode mode, const QString& tagName)
{
    const std::lock_guard lock(m_mutex);
    if (file.making || file.planned)
        return;
    file.plan.mode = mode;
    file.plan.tagName = tagName;
    file.planned = true;
    m_changed.notify_all();
}

FilesAhead::Taken FilesAhead::take(File& file)
{
    Taken taken;
    {
        const std::lock_guard lock(m_mutex);
        taken.batches.swap(file.batches);
        m_waitingBytes -= file.waitingBytes;
        file.waitingBytes = 0;
        taken.done = file.rowsDone;
        if (taken.done)
            taken.failure = file.rowsFailure;
    }
    if (!taken.batches.empty())
        m_changed.notify_all();
    return taken;
}

void FilesAhead::finishTurn()
{
    // Its thread may still be handing its worker back; the file goes once it has.
    m_finished.push_back(std::move(m_files.front()));
    m_files.pop_front();
    reapFinished();
}

void FilesAhead::reapFinished()
{
    const std::lock_guard lock(m_mutex);
    std::erase_if(m_finished, [](const std::unique_ptr<File>& file) { return file->ended; });
}

void FilesAhead::cutShort(File& file)
{
    const std::lock_guard lock(m_mutex);
    file.cancelled = true;
    if (!file.loadEnded && file.load.interrupt)
        file.load.interrupt();
    // A document making rows may be slow to give the next one (a large page without a single match, say).
    if (file.document)
        file.document->abandon();
    m_changed.notify_all();
}

void FilesAhead::clear()
{
    // The file in turn is cut short at once. The files ahead get a moment to end on their own: a small one does, and
    // its worker goes back to the pool for the next run rather than being ended with it.
    if (!m_files.empty())
        cutShort(*m_files.front());
    QElapsedTimer grace;
    grace.start();
    bool allCut = false;
    const auto ended = [](const std::unique_ptr<File>& file) {
        return file->ended;
    };
    for (;;) {
        {
            const std::lock_guard lock(m_mutex);
            if (std::all_of(m_files.begin(), m_files.end(), ended) &&
                std::all_of(m_finished.begin(), m_finished.end(), ended))
                break;
        }
        if (!allCut && grace.elapsed() >= kGraceMs) {
            for (const std::unique_ptr<File>& file : m_files)
                cutShort(*file);
            allCut = true;
        }
        m_events.waitForEvents();
    }
    m_files.clear();
    m_finished.clear();
    const std::lock_guard lock(m_mutex);
    m_waitingBytes = 0;
}
