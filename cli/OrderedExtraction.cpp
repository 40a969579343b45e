#include "OrderedExtraction.h"

#include "DocumentLoader.h"
#include "FileSystem.h"
#include "RFTSFSO.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace {

// Runs one file, handing each full chunk to flush. A file of a document mode must have been queued on the worker.
std::optional<StepFailure> extractInChunks(const OrderedExtraction& settings, const QString& file,
                                           DocumentWorker& worker, const OrderedExtraction::Format& format,
                                           const std::function<void(QByteArray&&, std::size_t)>& flush)
{
    QByteArray chunk;
    std::size_t rows = 0;
    const QByteArray prefix = settings.rowPrefix ? settings.rowPrefix(file) : QByteArray();
    const RowSink sink = [&](std::string_view row) {
        if (chunk.isEmpty())
            chunk.reserve(qsizetype(settings.chunkBytes) + 4096);
        if (!prefix.isEmpty())
            chunk.append(prefix);
        format(chunk, row);
        ++rows;
        if (std::size_t(chunk.size()) >= settings.chunkBytes) {
            flush(std::move(chunk), rows);
            chunk = QByteArray();
            rows = 0;
        }
    };
    std::optional<StepFailure> failure;
    if (settings.mode == ExtractionMode::MatchingLines) {
        failure = ExtractFileWith(worker, settings.mode, file, settings.texts, sink);
    } else if (std::optional<Failure> lost = worker.take(sink)) {
        failure = StepFailure{contentStep(settings.mode), lost->description};
    }
    if (!chunk.isEmpty())
        flush(std::move(chunk), rows);
    return failure;
}

void queueFile(const OrderedExtraction& settings, const QString& file, DocumentWorker& worker)
{
    if (settings.mode != ExtractionMode::MatchingLines)
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
    std::deque<Chunk> chunks;
    std::optional<StepFailure> failure;
    bool done = false;
};

class Pipeline
{
public:
    Pipeline(const OrderedExtraction& settings, const std::vector<QString>& files,
             const OrderedExtraction::Format& format, qint64 largeFileBytes)
        : m_settings(settings), m_files(files), m_format(format), m_largeFileBytes(largeFileBytes),
          m_slots(files.size())
    {}

    void work()
    {
        DocumentWorker worker(m_settings.workers);
        // The file taken next, claimed before this one's rows are made, and queued on the worker unless it is
        // large: the worker parses it meanwhile.
        std::size_t ahead = m_files.size();
        bool aheadQueued = false;
        for (;;) {
            std::size_t index = ahead;
            const bool queued = aheadQueued;
            if (stopped()) {
                // The writer may be waiting for a file nobody will take now.
                const std::lock_guard lock(m_mutex);
                m_changed.notify_all();
                return;
            }
            if (index >= m_files.size()) {
                index = m_next.fetch_add(1);
                if (index >= m_files.size())
                    return;
            }
            if (!queued && isLarge(index)) {
                std::unique_lock lock(m_mutex);
                m_room.wait(lock, [&] { return index == m_head || stopped(); });
            }
            if (!queued)
                queueFile(m_settings, m_files[index], worker);
            ahead = m_next.fetch_add(1);
            aheadQueued = ahead < m_files.size() && !isLarge(ahead);
            if (aheadQueued)
                queueFile(m_settings, m_files[ahead], worker);
            std::optional<StepFailure> failure = extractInChunks(m_settings, m_files[index], worker, m_format,
                                                                 [this, index](QByteArray&& chunk, std::size_t rows) {
                                                                     hand(index, Chunk{std::move(chunk), rows});
                                                                 });
            const std::lock_guard lock(m_mutex);
            m_slots[index].failure = std::move(failure);
            m_slots[index].done = true;
            m_changed.notify_all();
        }
    }

    void write(const OrderedExtraction::Deliver& deliver, const OrderedExtraction::Failed& failed)
    {
        for (std::size_t index = 0; index < m_files.size(); ++index) {
            Slot& slot = m_slots[index];
            for (;;) {
                std::unique_lock lock(m_mutex);
                m_changed.wait(lock, [&] { return !slot.chunks.empty() || slot.done || stopped(); });
                if (stopped())
                    return;
                if (slot.chunks.empty())
                    break;
                const Chunk chunk = std::move(slot.chunks.front());
                slot.chunks.pop_front();
                m_waitingBytes -= std::size_t(chunk.bytes.size());
                lock.unlock();
                m_room.notify_all();
                deliver(chunk.bytes);
                if (m_settings.rowsDelivered)
                    m_settings.rowsDelivered(chunk.rows);
            }
            std::optional<StepFailure> failure;
            {
                const std::lock_guard lock(m_mutex);
                failure = std::move(slot.failure);
                m_head = index + 1;
            }
            m_room.notify_all();
            if (failure)
                failed(m_files[index], *failure);
            if (m_settings.fileFinished)
                m_settings.fileFinished(m_files[index]);
        }
    }

private:
    bool isLarge(std::size_t index) const { return FileSystem::size(m_files[index]) > m_largeFileBytes; }
    bool stopped() const { return m_settings.stopRequested && m_settings.stopRequested->load(); }

    void hand(std::size_t index, Chunk&& chunk)
    {
        std::unique_lock lock(m_mutex);
        // The file being written never waits; the others wait for room behind it.
        m_room.wait(lock, [&] { return index == m_head || m_waitingBytes < m_settings.aheadBudgetBytes || stopped(); });
        m_waitingBytes += std::size_t(chunk.bytes.size());
        m_slots[index].chunks.push_back(std::move(chunk));
        m_changed.notify_all();
    }

    const OrderedExtraction& m_settings;
    const std::vector<QString>& m_files;
    const OrderedExtraction::Format& m_format;
    const qint64 m_largeFileBytes;
    std::vector<Slot> m_slots;
    std::atomic<std::size_t> m_next{0};
    std::mutex m_mutex;
    std::condition_variable m_changed; // a slot got a chunk or finished
    std::condition_variable m_room;    // the writer took bytes or moved on to the next file
    std::size_t m_waitingBytes = 0;
    std::size_t m_head = 0; // the file being written
};

} // namespace

void OrderedExtraction::run(const std::vector<QString>& files, const Format& format, const Deliver& deliver,
                            const Failed& failed) const
{
    const std::size_t workers = std::min<std::size_t>(std::size_t(std::max(jobs, 1)), files.size());
    if (workers <= 1) {
        // One file queued ahead: the worker parses it while the rows of the one before are written.
        DocumentWorker worker(this->workers);
        const auto stopped = [this] {
            return stopRequested && stopRequested->load();
        };
        if (!files.empty())
            queueFile(*this, files.front(), worker);
        for (std::size_t index = 0; index < files.size() && !stopped(); ++index) {
            if (index + 1 < files.size())
                queueFile(*this, files[index + 1], worker);
            const std::optional<StepFailure> failure =
                extractInChunks(*this, files[index], worker, format, [&](QByteArray&& chunk, std::size_t rows) {
                    if (stopped())
                        return;
                    deliver(chunk);
                    if (rowsDelivered)
                        rowsDelivered(rows);
                });
            if (stopped())
                return;
            if (failure)
                failed(files[index], *failure);
            if (fileFinished)
                fileFinished(files[index]);
        }
        return;
    }

    // Every worker may hold a file below the size that counts as large, and one large file more.
    qint64 large = largeFileBytes;
    if (large <= 0) {
        const qint64 largest =
            mode == ExtractionMode::MatchingLines ? RFTSFSO::LargestFileBytes() : LargestDocumentBytes();
        large = std::max<qint64>(1, largest / qint64(workers));
    }
    Pipeline pipeline(*this, files, format, large);
    std::vector<std::thread> threads;
    threads.reserve(workers);
    for (std::size_t i = 0; i < workers; ++i)
        threads.emplace_back([&pipeline] { pipeline.work(); });
    pipeline.write(deliver, failed);
    for (std::thread& thread : threads)
        thread.join();
}
