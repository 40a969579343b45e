#include "LineList.h"

#include "AnsiCodec.h"
#include "FileSystem.h"
#include "MemoryInfo.h"

#include <cstring>

LineList::LineList(QByteArray bytes) : m_bytes(std::move(bytes)) {}

const std::vector<qsizetype>& LineList::starts() const
{
    if (!m_starts.empty())
        return m_starts;
    const char* data = m_bytes.constData();
    const qsizetype size = m_bytes.size();
    m_starts.push_back(0);
    qsizetype position = 0;
    while (position < size) {
        const void* found = std::memchr(data + position, '\n', std::size_t(size - position));
        if (!found)
            break;
        position = static_cast<const char*>(found) - data + 1;
        // A terminator at the very end closes the last line; it does not open an empty one.
        if (position < size)
            m_starts.push_back(position);
    }
    return m_starts;
}

LineList::Span LineList::lineAround(QByteArrayView bytes, qsizetype position)
{
    const char* data = bytes.data();
    const qsizetype size = bytes.size();
    qsizetype start = position;
    while (start > 0 && data[start - 1] != '\n')
        --start;
    const void* lineFeed = std::memchr(data + position, '\n', std::size_t(size - position));
    qsizetype end = lineFeed ? static_cast<const char*>(lineFeed) - data : size;
    qsizetype next = lineFeed && end + 1 < size ? end + 1 : -1;
    if (lineFeed && end > start && data[end - 1] == '\r')
        --end;
    return {start, end, next};
}

qsizetype LineList::end(qsizetype k) const
{
    const char* data = m_bytes.constData();
    qsizetype end;
    if (k + 1 < count()) {
        end = start(k + 1) - 1; // the line feed
    } else {
        end = m_bytes.size();
        if (end > start(k) && data[end - 1] == '\n')
            --end;
        else
            return end;
    }
    if (end > start(k) && data[end - 1] == '\r')
        --end;
    return end;
}

QByteArrayView LineList::bytes(qsizetype k) const
{
    return QByteArrayView(m_bytes.constData() + start(k), end(k) - start(k));
}

QString LineList::text(qsizetype k) const
{
    return AnsiCodec::decode(bytes(k));
}

qint64 LineList::LargestFileBytes()
{
    const std::uint64_t physical = PhysicalMemoryBytes();
    return physical > 0 ? qint64(physical / 2) : std::numeric_limits<qint64>::max();
}

Result<LineList> ReadFileLines(const QString& path)
{
    Result<QByteArray> bytes = FileSystem::readAll(path, LineList::LargestFileBytes());
    if (!bytes)
        return bytes.failure();
    return LineList(std::move(*bytes));
}
