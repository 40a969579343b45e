#include "OrderedExtraction.h"

#include "FileSystem.h"
#include "InProcessDocuments.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <limits>
#include <memory>
#include <mutex>
#include <thread>

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
             const OrderedExtraction::Format& format, qint64 largeFileBytes)
        : m_settings(settings), m_next(next), m_format(format), m_largeFileBytes(largeFileBytes)
    {}

    void work()
    {
        DocumentWorker worker(m_settings.workers);
        QByteArray chunk;
        // The file taken next, claimed before this one's rows are made, and queued on the worker unless it is
        // large: the worker parses it meanwhile.
        std::size_t ahead = kNone;
        QString aheadFile;
        bool aheadQueued = false;
        for (;;) {
            std::size_t index = ahead;
            QString file = aheadFile;
            const bool queued = aheadQueued;
            if (stopped()) {
                // The writer may be waiting for a file nobody will take now.
                const std::lock_guard lock(m_mutex);
                m_changed.notify_all();
                return;
            }
            if (index == kNone) {
                index = claim(file, true);
                if (index == kNone)
                    return;
            }
            if (!queued && isLarge(file)) {
                std::unique_lock lock(m_mutex);
                waitUntil(m_room, lock, [&] { return index == m_head; });
            }
            if (!queued)
                queueFile(m_settings, file, worker);
            ahead = claim(aheadFile, false);
            aheadQueued = ahead != kNone && !isLarge(aheadFile);
            if (aheadQueued)
                queueFile(m_settings, aheadFile, worker);
            std::optional<ExtractionFailure> failure =
                extractInChunks(m_settings, file, worker, m_format, chunk,
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

    // Takes the next file of the list and gives it a slot; kNone at the end of the list.
    // wait: whether to wait for room when too many files are claimed ahead of the writer, and for the list's next
    // file. The file claimed ahead of one in hand never waits, since the writer may be waiting for the one in hand:
    // it is simply not claimed.
    std::size_t claim(QString& file, bool wait)
    {
        // One claim at a time, so that the files get their slots in the list's order. The list is read outside
        // m_mutex: it may wait for its next name while the writer goes on with the files in hand.
        std::unique_lock claiming(m_claimMutex, std::defer_lock);
        if (wait)
            claiming.lock();
        else if (!claiming.try_lock())
            return kNone;
        {
            std::unique_lock lock(m_mutex);
            // Files that give no rows (missing ones, say) cost the writer nothing to wait for: without a limit the
            // workers would claim the whole list ahead of it.
            const auto room = [&] {
                return m_slots.size() < kMostAhead;
            };
            if (wait)
                waitUntil(m_room, lock, room);
            else if (!room())
                return kNone;
            if (m_listEnded || stopped())
                return kNone;
        }
        if (!wait && m_settings.nextReady && !m_settings.nextReady())
            return kNone;
        std::optional<QString> next = m_next();
        // Only a claim adds slots, so the room found above is still there.
        const std::lock_guard lock(m_mutex);
        if (!next) {
            m_listEnded = true;
            m_changed.notify_all();
            return kNone;
        }
        file = *next;
        m_slots.push_back(Slot{std::move(*next), {}, {}, false});
        return m_base + m_slots.size() - 1;
    }

    // Takes the bytes of chunk for the file's slot, and gives the worker a written chunk to fill again if there is one.
    void hand(std::size_t index, QByteArray& chunk, std::size_t rows)
    {
        std::unique_lock lock(m_mutex);
        // The file being written never waits; the others wait for room behind it.
        waitUntil(m_room, lock, [&] { return index == m_head || m_waitingBytes < m_settings.aheadBudgetBytes; });
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
    std::mutex m_claimMutex; // held by the one claim under way
    std::mutex m_mutex;
    std::deque<Slot> m_slots; // the files claimed and not yet written, from the one being written on
    std::size_t m_base = 0;   // the index of m_slots.front()
    bool m_listEnded = false;
    std::condition_variable m_changed; // a slot got a chunk or finished, or the list ended
    std::condition_variable m_room;    // the writer took bytes or moved on to the next file
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
    if (workers <= 1) {
        // One file queued ahead: the worker parses it while the rows of the one before are written.
        DocumentWorker worker(this->workers);
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
        return;
    }

    // Every worker may hold a file below the size that counts as large, and one large file more.
    qint64 large = largeFileBytes;
    if (large <= 0)
        large = mode == ExtractionMode::MatchingLines ? std::numeric_limits<qint64>::max()
                                                      : std::max<qint64>(1, LargestDocumentBytes() / qint64(workers));
    Pipeline pipeline(*this, next, format, large);
    std::vector<std::thread> threads;
    threads.reserve(workers);
    for (std::size_t i = 0; i < workers; ++i)
        threads.emplace_back([&pipeline] { pipeline.work(); });
    pipeline.write(deliver, failed);
    for (std::thread& thread : threads)
        thread.join();
}
