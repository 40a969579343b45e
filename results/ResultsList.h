#pragma once

#include "RowBatch.h"

#include <QAbstractListModel>
#include <QElapsedTimer>
#include <QStringList>
#include <QTimer>

#include <cstdint>
#include <vector>

// The rows an extraction produced: the window's lower list. Positions count from 1. Rows may be empty or repeated.
//
// An extraction appends rows one at a time, hundreds of thousands of them, while the window keeps processing events.
// Announcing each row to the views would cost far more than storing it, so a row is stored (and counted) at once and
// announced later, together with every row appended since, when control returns to the event loop or Flush() is
// called. While rows keep coming, announcements are at least kPaceMs apart: a view relays out on each one, and a
// list that grows by a few rows per event pass for minutes would otherwise spend its time there. rowCount() is what the
// views have been told; Count() and Text() are what has been appended.
class ResultsList : public QAbstractListModel
{
public:
    explicit ResultsList(QObject* parent = nullptr);

    // False, with nothing stored, when the row would take the list past its capacity.
    bool Append(const QString& text);
    bool AppendUtf8(std::string_view row) { return Append(QString::fromUtf8(row.data(), qsizetype(row.size()))); }
    qsizetype Append(RowBatch&& batch)
    {
        qsizetype offset = 0, done = 0;
        for (const quint32 length : batch.lengths) {
            if (!AppendUtf8(std::string_view(batch.bytes.constData() + offset, length)))
                break;
            offset += length;
            ++done;
        }
        return done;
    }
    int Count() const;
    // 1 <= position <= Count().
    QString Text(int position) const;
    QStringList Texts() const;
    void Clear();

    // The list refuses rows rather than grow until the system kills the program: it holds at most
    // a quarter of the machine's memory (leaving room to save or copy what it holds) and never
    // more rows than a view can count.
    static std::uint64_t DefaultCapacityBytes();
    void SetCapacityBytes(std::uint64_t bytes) { m_capacityBytes = bytes; }
    std::uint64_t CapacityBytes() const { return m_capacityBytes; }
    // What the rows take, as the list counts it against its capacity.
    std::uint64_t BytesHeld() const { return m_bytesHeld; }
    static constexpr int kMaxRows = 0x7FFFFFFE;
    // Announces the rows appended since the last announcement now, as one insertion.
    void Flush();

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    // The rows in blocks of a fixed size, each reserved whole when it is started: a list of millions of rows never
    // moves them all to a larger array, which would hold the window for a quarter of a second at a time.
    static constexpr int kBlockShift = 16;
    static constexpr int kBlockRows = 1 << kBlockShift;
    const QString& row(int index) const
    {
        return m_blocks[std::size_t(index >> kBlockShift)][index & (kBlockRows - 1)];
    }

    std::vector<QList<QString>> m_blocks;
    int m_count = 0;
    std::uint64_t m_capacityBytes;
    std::uint64_t m_bytesHeld = 0;
    // Rows [0, m_announcedCount) are known to the views; the rest wait for the flush.
    int m_announcedCount = 0;
    QTimer m_flushTimer;
    QElapsedTimer m_sinceFlush;

public:
    static constexpr int kPaceMs = 100;
};
