#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <string_view>
#include <vector>

// Rows joined end to end, with the length of each: how an extraction hands rows to the results list in bulk.
struct RowBatch
{
    QByteArray bytes;             // the rows' UTF-8, one after another
    std::vector<quint32> lengths; // each row's length in bytes, in order

    // Adds one row; a row is less than 4 GB, as its length says.
    void append(std::string_view row)
    {
        Q_ASSERT(row.size() <= 0xFFFFFFFFu);
        bytes.append(row.data(), qsizetype(row.size()));
        lengths.push_back(quint32(row.size()));
    }
    qsizetype rows() const { return qsizetype(lengths.size()); }
    bool isEmpty() const { return lengths.empty(); }
    void clear()
    {
        bytes.clear();
        lengths.clear();
    }
};
