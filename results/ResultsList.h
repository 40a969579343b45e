#pragma once

#include <QAbstractListModel>
#include <QElapsedTimer>
#include <QStringList>
#include <QTimer>

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

    void Append(const QString& text);
    int Count() const;
    // 1 <= position <= Count().
    QString Text(int position) const;
    const QStringList& Texts() const { return m_rows; }
    void Clear();
    // Announces the rows appended since the last announcement now, as one insertion.
    void Flush();

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    QStringList m_rows;
    // Rows [0, m_announcedCount) are known to the views; the rest wait for the flush.
    int m_announcedCount = 0;
    QTimer m_flushTimer;
    QElapsedTimer m_sinceFlush;

public:
    static constexpr int kPaceMs = 100;
};
