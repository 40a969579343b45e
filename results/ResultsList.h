#pragma once

#include "RowBatch.h"

#include <QAbstractListModel>
#include <QByteArrayView>
#include <QElapsedTimer>
#include <QStringList>
#include <QTimer>

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

// The rows an extraction produced: the window's lower list. Positions count from 1. Rows may be empty or repeated.
//
// An extraction appends rows one at a time or in batches, hundreds of thousands of them, while the window keeps
// processing events. Announcing each row to the views would cost far more than storing it, so a row is stored (and
// counted) at once and announced later, together with every row appended since, when control returns to the event loop
// or Flush() is called. While rows keep coming, announcements are at least kPaceMs apart: a view relays out on each
// one, and a list that grows by a few rows per event pass for minutes would otherwise spend its time there. A table
// view's relayout walks every row it knows once after rows are inserted, so a list of millions of rows announces
// less often still, one millisecond apart for every kRowsPerPaceMs rows, which keeps that walk to a few percent of
// the window's time however long the list grows. rowCount()
// is what the views have been told; Count() and Text() are what has been appended.
//
// Rows are kept as UTF-8, end to end in large blocks, with one 64-bit start per row: tens of millions of short rows
// take little more than their bytes, and no row costs an allocation of its own. A row reads back as the text
// QString::fromUtf8 makes of the bytes it was appended as (invalid sequences as U+FFFD); Append(QString) keeps the
// text's UTF-8.
class ResultsList : public QAbstractListModel
{
public:
    explicit ResultsList(QObject* parent = nullptr);

    // False, with nothing stored, when the row would take the list past its capacity.
    bool Append(const QString& text);
    bool AppendUtf8(std::string_view row);
    // Appends the batch's rows in order until one would take the list past its capacity, and returns how many it
    // appended; the rest are refused whole. A batch of kAdoptedBatchBytes or more becomes a block of the list as it
    // stands, without a copy: one row of hundreds of megabytes costs the window no pause to take. The batch is left
    // empty.
    qsizetype Append(RowBatch&& batch);
    int Count() const;
    // 1 <= position <= Count().
    QString Text(int position) const;
    // The row's UTF-8 as stored, valid until the list is cleared.
    QByteArrayView Utf8(int position) const;
    QStringList Texts() const;
    void Clear();

    // The list refuses rows rather than grow until the system kills the program: it holds at most
    // a quarter of the machine's memory (leaving room to save or copy what it holds) and never
    // more rows than a view can count.
    static std::uint64_t DefaultCapacityBytes();
    void SetCapacityBytes(std::uint64_t bytes) { m_capacityBytes = bytes; }
    std::uint64_t CapacityBytes() const { return m_capacityBytes; }
    // What the rows take, as the list counts it against its capacity: each row its UTF-8 and its start.
    std::uint64_t BytesHeld() const { return m_bytesHeld; }
    static constexpr std::uint64_t kRowOverheadBytes = 8;
    static constexpr int kMaxRows = 0x7FFFFFFE;
    // Announces the rows appended since the last announcement now, as one insertion.
    void Flush();

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // The views are given a row's first 64 KB at most (cut where a character starts): a row of hundreds of megabytes
    // would otherwise be decoded whole each time a view paints it, to show one screenful.
    static constexpr qsizetype kShownBytes = 64 * 1024;
    // The size of the blocks rows are copied into.
    static constexpr qsizetype kBlockBytes = 16 * 1024 * 1024;
    static constexpr qsizetype kAdoptedBatchBytes = 1024 * 1024;

private:
    // A block's bytes are allocated whole when it is started and never moved; only [0, used) is written, so the tail
    // of the last block costs address space, not memory. A row never spans two blocks; a row larger than a block
    // gets one of its own.
    struct Block
    {
        QByteArray bytes;
        qsizetype used = 0;
        qsizetype room() const { return bytes.size() - used; }
    };
    // A row's start: its block in the high 32 bits, its offset there in the low 32. Its end is the next row's start
    // when that row is in the same block, else the end of what the block holds: rows only ever go into the last
    // block. The starts are kept in chunks of a fixed size, so that a list of tens of millions of rows never moves
    // them all to a larger array, which would hold the window for a quarter of a second at a time.
    static constexpr int kChunkShift = 16;
    static constexpr int kChunkStarts = 1 << kChunkShift;
    std::uint64_t startOf(int index) const
    {
        return m_starts[std::size_t(index >> kChunkShift)][index & (kChunkStarts - 1)];
    }
    QByteArrayView row(int index) const;
    // Whether rows of these many bytes in all fit beside what the list holds.
    bool fits(int rows, std::uint64_t bytes) const;
    // Makes the last block one with room for size bytes.
    void makeRoom(qsizetype size);
    void addStart(qsizetype block, qsizetype offset);
    // The starts of count rows laid end to end from offset in the block, with these lengths.
    void addStarts(qsizetype block, qsizetype offset, const quint32* lengths, qsizetype count);
    void store(QByteArrayView row);
    qsizetype appendBatch(RowBatch& batch);
    void scheduleFlush();

    std::vector<Block> m_blocks;
    std::vector<std::unique_ptr<std::uint64_t[]>> m_starts;
    int m_count = 0;
    std::uint64_t m_capacityBytes;
    std::uint64_t m_bytesHeld = 0;
    // Rows [0, m_announcedCount) are known to the views; the rest wait for the flush.
    int m_announcedCount = 0;
    QTimer m_flushTimer;
    QElapsedTimer m_sinceFlush;

public:
    static constexpr int kPaceMs = 100;
    static constexpr int kRowsPerPaceMs = 20000;
};
