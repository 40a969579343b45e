#include "ResultsList.h"

#include "MemoryInfo.h"

#include <algorithm>

namespace {

// A row's share of memory: its slot in the list, and its characters with the string header,
// rounded up the way the allocator does.
std::uint64_t rowCost(const QString& text)
{
    constexpr std::uint64_t slot = sizeof(QString);
    if (text.isEmpty())
        return slot;
    return slot + ((std::uint64_t(text.size() + 1) * 2 + 16 + 15) & ~std::uint64_t(15));
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

bool ResultsList::Append(const QString& text)
{
    const std::uint64_t cost = rowCost(text);
    if (m_count >= kMaxRows || m_bytesHeld + cost > m_capacityBytes)
        return false;
    if ((m_count & (kBlockRows - 1)) == 0) {
        m_blocks.emplace_back();
        m_blocks.back().reserve(kBlockRows);
    }
    m_blocks.back().append(text);
    ++m_count;
    m_bytesHeld += cost;
    if (!m_flushTimer.isActive()) {
        const qint64 since = m_sinceFlush.isValid() ? m_sinceFlush.elapsed() : kPaceMs;
        m_flushTimer.start(int(std::max<qint64>(0, kPaceMs - since)));
    }
    return true;
}

int ResultsList::Count() const
{
    return m_count;
}

QStringList ResultsList::Texts() const
{
    QStringList texts;
    texts.reserve(m_count);
    for (const QList<QString>& block : m_blocks)
        texts += block;
    return texts;
}

QString ResultsList::Text(int position) const
{
    Q_ASSERT(position >= 1 && position <= Count());
    return position >= 1 && position <= Count() ? row(position - 1) : QString();
}

void ResultsList::Clear()
{
    m_flushTimer.stop();
    m_sinceFlush.invalidate();
    // A reset rather than a removal: rows still waiting to be announced were never inserted, so there is no range
    // that the views could be told to remove.
    beginResetModel();
    // Given back, not kept: after a large run the list's capacity alone can be gigabytes.
    std::vector<QList<QString>>().swap(m_blocks);
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
    return row(index.row());
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
