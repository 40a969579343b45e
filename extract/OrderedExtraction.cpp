#include "OrderedExtraction.h"

#include "FileSystem.h"
#include "InProcessDocuments.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace {

// Takes the bytes of a full chunk with the number of its rows, and leaves the chunk empty, perhaps with room.
using Flush = std::function<void(QByteArray& chunk, std::size_t rows)>;

// A row too long to be held whole, written into the chunk as its parts come; the chunk is handed on whenever it is
// full, also in the middle of the row.
class PartsIntoChunks final : public RowParts
{
public:
    PartsIntoChunks(const OrderedExtraction& settings, std::string_view prefix, QByteArray& chunk, std::size_t& rows,
                    const Flush& flush)
        : m_settings(settings), m_prefix(prefix), m_chunk(chunk), m_rows(rows), m_flush(flush)
    {}

    void begin() override
    {
        if (m_chunk.isEmpty())
            m_chunk.reserve(qsizetype(m_settings.chunkBytes) + 4096);
        m_settings.partsFormat.begin(m_chunk, m_prefix);
    }
    void part(std::string_view part) override
    {
        m_settings.partsFormat.part(m_chunk, part);
        flushIfFull();
    }
    void end() override
    {
        m_settings.partsFormat.end(m_chunk);
        ++m_rows;
        flushIfFull();
    }
    // The row ends where it was cut, so that the rows after it are still rows of their own.
    void abandon() override { end(); }

private:
    void flushIfFull()
    {
        if (std::size_t(m_chunk.size()) >= m_settings.chunkBytes) {
            m_flush(m_chunk, m_rows);
            m_rows = 0;
        }
    }

    const OrderedExtraction& m_settings;
    std::string_view m_prefix;
    QByteArray& m_chunk;
    std::size_t& m_rows;
    const Flush& m_flush;
};

// Runs one file, filling chunk (empty on entry and on return) and handing it to flush each time it is full. A file of
// a document mode must have been queued on the worker.
std::optional<ExtractionFailure> extractInChunks(const OrderedExtraction& settings, const QString& file,
                                                 DocumentWorker& worker, const OrderedExtraction::Format& format,
                                                 QByteArray& chunk, const Flush& flush)
{
    std::size_t rows = 0;
    const QByteArray prefixBytes = settings.rowPrefix ? settings.rowPrefix(file) : QByteArray();
    const std::string_view prefix(prefixBytes.constData(), std::size_t(prefixBytes.size()));
    const RowSink sink = [&](std::string_view row) {
        if (chunk.isEmpty())
            chunk.reserve(qsizetype(settings.chunkBytes) + 4096);
        format(chunk, prefix, row);
        ++rows;
        if (std::size_t(chunk.size()) >= settings.chunkBytes) {
            flush(chunk, rows);
            rows = 0;
        }
    };
    PartsIntoChunks parts(settings, prefix, chunk, rows, flush);
    QueuedDocuments queued(worker);
    const std::optional<ExtractionFailure> failure =
        ExtractFile(file, settings.mode, settings.texts, queued, sink, settings.partsFormat.begin ? &parts : nullptr,
                    settings.lineChunkBytes);
    if (!chunk.isEmpty())
        flush(chunk, rows);
    return failure;
}

void queueFile(const OrderedExtraction& settings, const QString& file, DocumentWorker& worker)
{
    if (IsDocumentMode(settings.mode))
        worker.queue(file, settings.mode, settings.texts.tagName);
}

// What the workers have made of one file and the writer has not taken yet.
struct Chunk
{
    QByteArray bytes;
    std::size_t rows = 0;
};

struct Slot
{
    QString file;
    std::deque<Chunk> chunks;
    std::optional<ExtractionFailure> failure;
    bool done = false;
};

constexpr std::size_t kNone = std::size_t(-1);
// The most files claimed and not yet written.
constexpr std::size_t kMostAhead = 256;
// The most written chunks kept for the workers to fill again: memory that is in use already costs no page faults.
constexpr std::size_t kMostSpare = 8;
// A stop set from a signal handler notifies nobody (a handler may not touch a mutex): every wait looks at it again
// this often, so that a stopped run ends in a fraction of a second whatever its threads were waiting for.
constexpr std::chrono::milliseconds kStopCheck{50};

class Pipeline
{
public:
    Pipeline(const OrderedExtraction& settings, const OrderedExtraction::Source& next,
             const OrderedExtraction::Format& format, qint64 largeFileBytes, std::size_t mostThreads)
        : m_settings(settings), m_next(next), m_format(format), m_largeFileBytes(largeFileBytes),
          m_mostThreads(mostThreads)
    {
        m_threads.reserve(mostThreads);
    }

    // Starts the first thread, which works with the worker given; false when no thread can be started, and the
    // worker is handed back as it was.
    bool begin(std::unique_ptr<DocumentWorker>& first)
    {
        const std::lock_guard lock(m_mutex);
        m_firstWorker = std::move(first);
        ++m_active;
        try {
            m_threads.emplace_back([this] {
                std::unique_ptr<DocumentWorker> worker;
                {
                    const std::lock_guard taking(m_mutex);
                    worker = std::move(m_firstWorker);
                }
                work(std::move(worker));
            });
        } catch (const std::system_error&) {
            --m_active;
            first = std::move(m_firstWorker);
            return false;
        }
        return true;
    }

    // Waits for every thread the run started, those started by other threads among them.
    void joinAll()
    {
        for (std::size_t i = 0;; ++i) {
            std::thread thread;
            {
                const std::lock_guard lock(m_mutex);
                if (i >= m_threads.size())
                    return;
                thread = std::move(m_threads[i]);
            }
            thread.join();
        }
    }

    void work(std::unique_ptr<DocumentWorker> worker)
    {
        QByteArray chunk;
        bool grown = false;
        // The file taken next, claimed before this one's rows are made, and queued on the worker unless it is
        // large: the worker parses it meanwhile.
        std::size_t ahead = kNone;
        QString aheadFile;
        bool aheadQueued = false;
        for (;;) {
            std::size_t index = std::exchange(ahead, kNone);
            QString file = aheadFile;
            const bool queued = index != kNone && aheadQueued;
            if (stopped()) {
                // The writer may be waiting for a file nobody will take now.
                const std::lock_guard lock(m_mutex);
                --m_active;
                m_changed.notify_all();
                return;
            }
            if (index == kNone) {
                index = take(file);
                if (index == kNone)
                    return;
            }
            if (!queued && isLarge(file) && !waitForTurn(index, file))
                continue;
            // A worker that cannot be started (the system allows no more processes, say) costs its thread, not its
            // file: the file goes to the threads whose workers run. The last thread keeps trying, file by file, and
            // reports each file it cannot start a worker for.
            if (IsDocumentMode(m_settings.mode) && !worker->running() && worker->start() && retire(index, file))
                return;
            // Each thread starts the next once it has a file and a worker to read it, so that a short list starts no
            // more workers than it needs, and a system that allows fewer threads or processes than the jobs asked
            // for runs the run on those it allows.
            if (!grown && (!IsDocumentMode(m_settings.mode) || worker->running())) {
                grown = true;
                grow();
            }
            if (!queued)
                queueFile(m_settings, file, *worker);
            ahead = claimAhead(aheadFile);
            aheadQueued = ahead != kNone && !isLarge(aheadFile);
            if (aheadQueued)
                queueFile(m_settings, aheadFile, *worker);
            std::optional<ExtractionFailure> failure =
                extractInChunks(m_settings, file, *worker, m_format, chunk,
                                [this, index](QByteArray& full, std::size_t rows) { hand(index, full, rows); });
            const std::lock_guard lock(m_mutex);
            Slot& slot = m_slots[index - m_base];
            slot.failure = std::move(failure);
            slot.done = true;
            m_changed.notify_all();
        }
    }

    void write(const OrderedExtraction::Deliver& deliver, const OrderedExtraction::Failed& failed)
    {
        for (std::size_t index = 0;; ++index) {
            for (;;) {
                std::unique_lock lock(m_mutex);
                if (m_settings.waitingForList && index >= m_base + m_slots.size() && !m_listEnded && !stopped()) {
                    lock.unlock();
                    m_settings.waitingForList();
                    lock.lock();
                }
                waitUntil(m_changed, lock, [&] {
                    if (index >= m_base + m_slots.size())
                        return m_listEnded;
                    const Slot& slot = m_slots[index - m_base];
                    return !slot.chunks.empty() || slot.done;
                });
                if (stopped()) {
                    // The workers waiting for room are to see the stop now rather than at their next look.
                    lock.unlock();
                    m_room.notify_all();
                    return;
                }
                if (index >= m_base + m_slots.size())
                    return;
                Slot& slot = m_slots[index - m_base];
                if (slot.chunks.empty())
                    break;
                Chunk chunk = std::move(slot.chunks.front());
                slot.chunks.pop_front();
                m_waitingBytes -= std::size_t(chunk.bytes.size());
                lock.unlock();
                m_room.notify_all();
                deliver(chunk.bytes);
                if (m_settings.rowsDelivered)
                    m_settings.rowsDelivered(chunk.rows);
                chunk.bytes.truncate(0);
                lock.lock();
                if (m_spare.size() < kMostSpare)
                    m_spare.push_back(std::move(chunk.bytes));
            }
            std::optional<ExtractionFailure> failure;
            QString file;
            {
                // The file's slot goes once it is written, so a list of any length holds only the files in hand.
                const std::lock_guard lock(m_mutex);
                failure = std::move(m_slots.front().failure);
                file = std::move(m_slots.front().file);
                m_slots.pop_front();
                ++m_base;
                m_head = index + 1;
            }
            m_room.notify_all();
            if (failure)
                failed(file, *failure);
            if (m_settings.fileFinished)
                m_settings.fileFinished(file);
        }
    }

private:
    bool isLarge(const QString& file) const { return FileSystem::size(file) > m_largeFileBytes; }
    bool stopped() const { return m_settings.stopRequested && m_settings.stopRequested->load(); }

    // Waits on condition until ready() holds or the run is stopped.
    template <typename Ready>
    void waitUntil(std::condition_variable& condition, std::unique_lock<std::mutex>& lock, const Ready& ready)
    {
        const auto readyOrStopped = [&] {
            return stopped() || ready();
        };
        if (!m_settings.stopRequested) {
            condition.wait(lock, readyOrStopped);
            return;
        }
        while (!condition.wait_for(lock, kStopCheck, readyOrStopped)) {
        }
    }

    // Whether a file before this one waits for a thread to take it again: until one does, the writer cannot pass it,
    // and a thread must not wait for the writer.
    bool earlierToRedo(std::size_t index) const { return !m_redo.empty() && m_redo.begin()->first < index; }

    // The thread's next file: one a thread gave back, else the next of the list, which gets a slot; kNone at the end of
    // the list (or once stopped), when the thread stops counting among those that take files.
    std::size_t take(QString& file)
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            // Files that give no rows (missing ones, say) cost the writer nothing to wait for: without a limit the
            // workers would claim the whole list ahead of it. One claim at a time, so that the files get their slots in
            // the list's order; the list is read outside the lock, since it may wait for its next name while the
            // writer goes on with the files in hand.
            waitUntil(m_room, lock,
                      [&] { return !m_redo.empty() || m_listEnded || (!m_claiming && m_slots.size() < kMostAhead); });
            if (!m_redo.empty() && !stopped()) {
                const auto earliest = m_redo.begin();
                file = earliest->second;
                const std::size_t index = earliest->first;
                m_redo.erase(earliest);
                return index;
            }
            if (m_listEnded || stopped()) {
                // Decided under the same lock as a retiring thread's hand-over, so that no file is given back to a
                // thread that has gone.
                --m_active;
                m_changed.notify_all();
                return kNone;
            }
            if (std::optional<std::size_t> index = claimLocked(lock, file))
                return *index;
        }
    }

    // The file to take ahead of the one in hand, if it is there at once: it never waits, since the writer may be
    // waiting for the one in hand. A file given back is left for a thread with nothing in hand.
    std::size_t claimAhead(QString& file)
    {
        std::unique_lock lock(m_mutex);
        if (m_claiming || m_listEnded || stopped() || !m_redo.empty() || m_slots.size() >= kMostAhead)
            return kNone;
        if (m_settings.nextReady) {
            m_claiming = true;
            lock.unlock();
            const bool ready = m_settings.nextReady();
            lock.lock();
            m_claiming = false;
            m_room.notify_all();
            if (!ready)
                return kNone;
        }
        return claimLocked(lock, file).value_or(kNone);
    }

    // Reads the next name of the list and gives it a slot; nothing at the end of the list. Only a claim adds slots, so
    // the room found before is still there.
    std::optional<std::size_t> claimLocked(std::unique_lock<std::mutex>& lock, QString& file)
    {
        m_claiming = true;
        lock.unlock();
        std::optional<QString> next = m_next();
        lock.lock();
        m_claiming = false;
        m_room.notify_all();
        if (!next) {
            m_listEnded = true;
            m_changed.notify_all();
            return std::nullopt;
        }
        file = *next;
        m_slots.push_back(Slot{std::move(*next), {}, {}, false});
        return m_base + m_slots.size() - 1;
    }

    // A large file waits for its turn to be written before it is read; true once it has it. False when a file before
    // it waits to be taken again: this one is given back too, and the thread takes the earlier one first.
    bool waitForTurn(std::size_t index, const QString& file)
    {
        std::unique_lock lock(m_mutex);
        waitUntil(m_room, lock, [&] { return index == m_head || earlierToRedo(index); });
        if (index == m_head || stopped())
            return true;
        m_redo.emplace(index, file);
        return false;
    }

    // Gives the file back for the other threads, and the thread leaves the run; false when it is the last thread
    // that takes files, which keeps it.
    bool retire(std::size_t index, const QString& file)
    {
        const std::lock_guard lock(m_mutex);
        if (m_active <= 1)
            return false;
        --m_active;
        m_redo.emplace(index, file);
        m_room.notify_all();
        return true;
    }

    // Starts one more thread, while the run may use more; a system that refuses it leaves the run with those it has.
    void grow()
    {
        const std::lock_guard lock(m_mutex);
        if (m_growthEnded || m_threads.size() >= m_mostThreads || m_listEnded || stopped())
            return;
        ++m_active;
        try {
            m_threads.emplace_back([this] { work(std::make_unique<DocumentWorker>(m_settings.workers)); });
        } catch (const std::system_error&) {
            --m_active;
            m_growthEnded = true;
        }
    }

    // Takes the bytes of chunk for the file's slot, and gives the worker a written chunk to fill again if there is one.
    void hand(std::size_t index, QByteArray& chunk, std::size_t rows)
    {
        std::unique_lock lock(m_mutex);
        // The file being written never waits; the others wait for room behind it, unless the writer waits for a file
        // before them that a thread has yet to take again: this one's rows then go beyond the budget.
        waitUntil(m_room, lock, [&] {
            return index == m_head || m_waitingBytes < m_settings.aheadBudgetBytes || earlierToRedo(index);
        });
        m_waitingBytes += std::size_t(chunk.size());
        m_slots[index - m_base].chunks.push_back(Chunk{std::move(chunk), rows});
        chunk = QByteArray();
        if (!m_spare.empty()) {
            chunk = std::move(m_spare.back());
            m_spare.pop_back();
        }
        m_changed.notify_all();
    }

    const OrderedExtraction& m_settings;
    const OrderedExtraction::Source& m_next;
    const OrderedExtraction::Format& m_format;
    const qint64 m_largeFileBytes;
    const std::size_t m_mostThreads;
    std::mutex m_mutex;
    std::vector<std::thread> m_threads;
    std::unique_ptr<DocumentWorker> m_firstWorker; // for the first thread, which takes it
    std::size_t m_active = 0;                      // the threads that still take files
    bool m_growthEnded = false;                    // the system refused a thread
    bool m_claiming = false;                       // a thread is reading the list
    std::map<std::size_t, QString> m_redo;         // claimed files given back by threads that left, by index
    std::deque<Slot> m_slots; // the files claimed and not yet written, from the one being written on
    std::size_t m_base = 0;   // the index of m_slots.front()
    bool m_listEnded = false;
    std::condition_variable m_changed; // a slot got a chunk or finished, or the list ended
    std::condition_variable m_room;    // the writer took bytes or moved on, a claim ended, or a file was given back
    std::size_t m_waitingBytes = 0;
    std::size_t m_head = 0;          // the file being written
    std::vector<QByteArray> m_spare; // written chunks, empty, for the workers to fill again
};

} // namespace

void OrderedExtraction::run(const std::vector<QString>& files, const Format& format, const Deliver& deliver,
                            const Failed& failed) const
{
    std::size_t next = 0;
    const Source source = [&]() -> std::optional<QString> {
        if (next < files.size())
            return files[next++];
        return std::nullopt;
    };
    run(source, std::min<std::size_t>(std::size_t(std::max(jobs, 1)), files.size()), format, deliver, failed);
}

void OrderedExtraction::run(const Source& next, const Format& format, const Deliver& deliver,
                            const Failed& failed) const
{
    run(next, std::size_t(std::max(jobs, 1)), format, deliver, failed);
}

void OrderedExtraction::run(const Source& next, std::size_t workers, const Format& format, const Deliver& deliver,
                            const Failed& failed) const
{
    // The first worker is started before any thread (and before the list is read, which may want one): where the
    // system allows only a few more processes, one worker reading on this thread does better than threads that wait
    // for workers it refuses. No worker at all, and this thread tries again for each file, reporting each one it
    // cannot.
    auto worker = std::make_unique<DocumentWorker>(this->workers);
    if (IsDocumentMode(mode))
        worker->start();
    if (workers > 1) {
        if (!IsDocumentMode(mode) || worker->running()) {
            // Every worker may hold a file below the size that counts as large, and one large file more.
            qint64 large = largeFileBytes;
            // The lines of option 3 are read a chunk at a time, so no file of theirs is large.
            if (large <= 0)
                large = mode == ExtractionMode::MatchingLines
                            ? std::numeric_limits<qint64>::max()
                            : std::max<qint64>(1, LargestDocumentBytes() / qint64(workers));
            Pipeline pipeline(*this, next, format, large, workers);
            if (pipeline.begin(worker)) {
                pipeline.write(deliver, failed);
                pipeline.joinAll();
                return;
            }
        }
    }
    runAlone(next, *worker, format, deliver, failed);
}

void OrderedExtraction::runAlone(const Source& next, DocumentWorker& worker, const Format& format,
                                 const Deliver& deliver, const Failed& failed) const
{
    // One file queued ahead: the worker parses it while the rows of the one before are written.
    QByteArray chunk;
    const auto stopped = [this] {
        return stopRequested && stopRequested->load();
    };
    std::optional<QString> current = next();
    if (current)
        queueFile(*this, *current, worker);
    while (current && !stopped()) {
        // A list that has to wait for its next file is asked again once the rows of this one are out.
        const bool takenAhead = !nextReady || nextReady();
        std::optional<QString> following;
        if (takenAhead)
            following = next();
        if (following)
            queueFile(*this, *following, worker);
        const std::optional<ExtractionFailure> failure =
            extractInChunks(*this, *current, worker, format, chunk, [&](QByteArray& full, std::size_t rows) {
                if (!stopped()) {
                    deliver(full);
                    if (rowsDelivered)
                        rowsDelivered(rows);
                }
                // The same memory takes the next rows.
                full.truncate(0);
            });
        if (stopped())
            return;
        if (failure)
            failed(*current, *failure);
        if (fileFinished)
            fileFinished(*current);
        if (!takenAhead) {
            if (waitingForList)
                waitingForList();
            following = next();
            if (following)
                queueFile(*this, *following, worker);
        }
        current = std::move(following);
    }
}
