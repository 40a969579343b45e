#include "ResultsList.h"

#include "MemoryInfo.h"
#include "Utf8Text.h"

#include <algorithm>
#include <cstring>

namespace {

// A row's start holds its offset in 32 bits: every row must start below 4 GB in its block.
constexpr qsizetype kMaxOffset = qsizetype(0xFFFFFFFFu);

// Whether every row of the batch is valid UTF-8 with no byte-order mark in front, to be stored as it stands. When the
// whole batch is valid and every row starts where a character does, every row is valid on its own.
bool storableAsItStands(const RowBatch& batch)
{
    if (!QByteArrayView(batch.bytes).isValidUtf8())
        return false;
    // In valid UTF-8 a row starts a character unless its first byte continues one; a byte-order mark starts with EF.
    const auto* const bytes = reinterpret_cast<const unsigned char*>(batch.bytes.constData());
    const qsizetype size = batch.bytes.size();
    qsizetype at = 0;
    for (const quint32 length : batch.lengths) {
        if (length > 0) {
            const unsigned char first = bytes[at];
            if ((first & 0xC0) == 0x80 ||
                (first == 0xEF && length >= 3 && bytes[at + 1] == 0xBB && bytes[at + 2] == 0xBF))
                return false;
        }
        at += qsizetype(length);
    }
    Q_ASSERT(at == size);
    Q_UNUSED(size);
    return true;
}

} // namespace

std::uint64_t ResultsList::DefaultCapacityBytes()
{
    const std::uint64_t physical = PhysicalMemoryBytes();
    return physical > 0 ? physical / 4 : std::uint64_t(1) << 30;
}

ResultsList::ResultsList(QObject* parent) : QAbstractListModel(parent), m_capacityBytes(DefaultCapacityBytes())
{
    m_flushTimer.setSingleShot(true);
    m_flushTimer.setInterval(0);
    QObject::connect(&m_flushTimer, &QTimer::timeout, this, &ResultsList::Flush);
}

bool ResultsList::fits(int rows, std::uint64_t bytes) const
{
    return rows <= kMaxRows - m_count && m_bytesHeld + bytes + rows * kRowOverheadBytes <= m_capacityBytes;
}

void ResultsList::makeRoom(qsizetype size)
{
    // A block that ends past 4 GB (one huge row, or a batch kept as it stands) can start no further row, not even
    // an empty one.
    if (!m_blocks.empty() && m_blocks.back().room() >= size && m_blocks.back().used <= kMaxOffset)
        return;
    // Uninitialized: the pages of the block that no row reaches are never touched, so they take no memory.
    m_blocks.push_back({QByteArray(std::max(size, kBlockBytes), Qt::Uninitialized), 0});
}

void ResultsList::addStart(qsizetype block, qsizetype offset)
{
    if ((m_count & (kChunkStarts - 1)) == 0)
        m_starts.emplace_back(new std::uint64_t[kChunkStarts]);
    m_starts.back()[m_count & (kChunkStarts - 1)] = std::uint64_t(block) << 32 | std::uint64_t(offset);
    ++m_count;
}

void ResultsList::addStarts(qsizetype block, qsizetype offset, const quint32* lengths, qsizetype count)
{
    // Chunk by chunk, in one pass over the lengths: millions of rows come this way.
    const std::uint64_t blockBits = std::uint64_t(block) << 32;
    std::uint64_t at = std::uint64_t(offset);
    while (count > 0) {
        if ((m_count & (kChunkStarts - 1)) == 0)
            m_starts.emplace_back(new std::uint64_t[kChunkStarts]);
        const int inChunk = m_count & (kChunkStarts - 1);
        const qsizetype here = std::min<qsizetype>(count, kChunkStarts - inChunk);
        std::uint64_t* const starts = m_starts.back().get() + inChunk;
        for (qsizetype i = 0; i < here; ++i) {
            starts[i] = blockBits | at;
            at += lengths[i];
        }
        lengths += here;
        count -= here;
        m_count += int(here);
    }
}

void ResultsList::store(QByteArrayView row)
{
    makeRoom(row.size());
    Block& block = m_blocks.back();
    addStart(qsizetype(m_blocks.size()) - 1, block.used);
    if (!row.isEmpty())
        std::memcpy(block.bytes.data() + block.used, row.data(), std::size_t(row.size()));
    block.used += row.size();
    m_bytesHeld += std::uint64_t(row.size()) + kRowOverheadBytes;
}

void ResultsList::scheduleFlush()
{
    if (!m_flushTimer.isActive()) {
        const qint64 pace = std::max<qint64>(kPaceMs, m_announcedCount / kRowsPerPaceMs);
        const qint64 since = m_sinceFlush.isValid() ? m_sinceFlush.elapsed() : pace;
        m_flushTimer.start(int(std::max<qint64>(0, pace - since)));
    }
}

bool ResultsList::Append(const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    if (!fits(1, std::uint64_t(utf8.size())))
        return false;
    store(utf8);
    scheduleFlush();
    return true;
}

bool ResultsList::AppendUtf8(std::string_view row)
{
    const QByteArrayView bytes(row.data(), qsizetype(row.size()));
    if (Utf8Text::needsRewrite(bytes))
        return Append(QString::fromUtf8(bytes));
    if (!fits(1, std::uint64_t(bytes.size())))
        return false;
    store(bytes);
    scheduleFlush();
    return true;
}

qsizetype ResultsList::Append(RowBatch&& batch)
{
    const qsizetype appended = appendBatch(batch);
    // Emptied but not given back when it was copied, so that a caller who fills one batch after another reuses its
    // buffers.
    batch.bytes.truncate(0);
    batch.lengths.clear();
    return appended;
}

qsizetype ResultsList::appendBatch(RowBatch& batch)
{
    const qsizetype rows = batch.rows();
    const auto length = [&](qsizetype row) {
        return qsizetype(batch.lengths[std::size_t(row)]);
    };
    if (!storableAsItStands(batch)) {
        // In theory only (workers send UTF-8): the rows go one by one, each mended as it needs.
        qsizetype appended = 0;
        for (qsizetype at = 0; appended < rows; at += length(appended++))
            if (!AppendUtf8({batch.bytes.constData() + at, std::size_t(length(appended))}))
                break;
        return appended;
    }

    qsizetype taken = 0;
    std::uint64_t takenBytes = 0;
    if (rows <= kMaxRows && fits(int(rows), std::uint64_t(batch.bytes.size()))) {
        taken = rows;
        takenBytes = std::uint64_t(batch.bytes.size());
    } else {
        while (taken < rows && fits(int(taken + 1), takenBytes + std::uint64_t(length(taken))))
            takenBytes += std::uint64_t(length(taken++));
    }
    if (taken == 0)
        return 0;

    const qsizetype lastStart = qsizetype(takenBytes) - length(taken - 1);
    if (qsizetype(takenBytes) >= kAdoptedBatchBytes && lastStart <= kMaxOffset) {
        if (taken < rows)
            batch.bytes.truncate(qsizetype(takenBytes));
        const qsizetype block = qsizetype(m_blocks.size());
        m_blocks.push_back({std::move(batch.bytes), qsizetype(takenBytes)});
        addStarts(block, 0, batch.lengths.data(), taken);
    } else {
        // Runs of rows that fit in the last block, each copied at once.
        for (qsizetype i = 0, at = 0; i < taken;) {
            makeRoom(length(i));
            Block& block = m_blocks.back();
            const qsizetype blockIndex = qsizetype(m_blocks.size()) - 1;
            const qsizetype first = i;
            qsizetype run = 0;
            while (i < taken && length(i) <= block.room() - run)
                run += length(i++);
            addStarts(blockIndex, block.used, batch.lengths.data() + first, i - first);
            if (run > 0)
                std::memcpy(block.bytes.data() + block.used, batch.bytes.constData() + at, std::size_t(run));
            block.used += run;
            at += run;
        }
    }
    m_bytesHeld += takenBytes + std::uint64_t(taken) * kRowOverheadBytes;
    scheduleFlush();
    return taken;
}

int ResultsList::Count() const
{
    return m_count;
}

QByteArrayView ResultsList::row(int index) const
{
    const std::uint64_t start = startOf(index);
    const std::uint64_t block = start >> 32;
    const qsizetype offset = qsizetype(start & 0xFFFFFFFFu);
    qsizetype end = m_blocks[std::size_t(block)].used;
    if (index + 1 < m_count) {
        const std::uint64_t next = startOf(index + 1);
        if (next >> 32 == block)
            end = qsizetype(next & 0xFFFFFFFFu);
    }
    return QByteArrayView(m_blocks[std::size_t(block)].bytes.constData() + offset, end - offset);
}

QStringList ResultsList::Texts() const
{
    QStringList texts;
    texts.reserve(m_count);
    for (int index = 0; index < m_count; ++index)
        texts.append(Utf8Text::decode(row(index)));
    return texts;
}

QString ResultsList::Text(int position) const
{
    return Utf8Text::decode(Utf8(position));
}

QByteArrayView ResultsList::Utf8(int position) const
{
    Q_ASSERT(position >= 1 && position <= Count());
    return position >= 1 && position <= Count() ? row(position - 1) : QByteArrayView();
}

void ResultsList::Clear()
{
    m_flushTimer.stop();
    m_sinceFlush.invalidate();
    // A reset rather than a removal: rows still waiting to be announced were never inserted, so there is no range
    // that the views could be told to remove.
    beginResetModel();
    // Given back, not kept: after a large run the list's capacity alone can be gigabytes.
    std::vector<Block>().swap(m_blocks);
    std::vector<std::unique_ptr<std::uint64_t[]>>().swap(m_starts);
    m_count = 0;
    m_bytesHeld = 0;
    m_announcedCount = 0;
    endResetModel();
}

void ResultsList::Flush()
{
    m_flushTimer.stop();
    m_sinceFlush.start();
    const int first = m_announcedCount;
    const int last = Count() - 1;
    if (last < first)
        return;
    beginInsertRows({}, first, last);
    // Only the rows counted above: a view that appends while it hears of the insertion leaves its rows for the next
    // flush, which its Append has already scheduled.
    m_announcedCount = last + 1;
    endInsertRows();
}

int ResultsList::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_announcedCount;
}

QVariant ResultsList::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.model() != this || index.row() >= m_announcedCount)
        return {};
    QByteArrayView bytes = row(index.row());
    if (bytes.size() > kShownBytes)
        bytes.truncate(Utf8Text::characterStart(bytes, kShownBytes));
    return Utf8Text::decode(bytes);
}

QVariant ResultsList::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (section == 0 && orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return QStringLiteral("Results");
    return {};
}

Qt::ItemFlags ResultsList::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}
