#pragma once

#include "Result.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <vector>

// The lines of a file read as single-byte text in the ANSI code page, without their
// terminators. Never empty: an empty file has one empty line. A line ends at LF or CR LF; a
// carriage return anywhere else stays in its line. No byte-order mark is looked for.
class LineList
{
public:
    explicit LineList(QByteArray bytes);

    qsizetype count() const { return qsizetype(starts().size()); }
    // The raw bytes of line k (counted from 0).
    QByteArrayView bytes(qsizetype k) const;
    // Line k decoded through the ANSI codec.
    QString text(qsizetype k) const;

    // Where line k's content begins and ends in the file's bytes.
    qsizetype start(qsizetype k) const { return starts()[std::size_t(k)]; }
    qsizetype end(qsizetype k) const;
    const QByteArray& fileBytes() const { return m_bytes; }

    // The bounds of the line holding the byte at position, found without the line index.
    struct Span
    {
        qsizetype start;
        qsizetype end;  // where the content ends, before its terminator
        qsizetype next; // where the next line starts, or -1 after the last line
    };
    Span lineAround(qsizetype position) const { return lineAround(m_bytes, position); }
    // The same within any bytes, which are taken to be whole lines.
    static Span lineAround(QByteArrayView bytes, qsizetype position);

    // Files larger than this (half of the machine's memory) are refused by ReadFileLines before they are read: a line
    // list holds its file whole. (Option 3 reads its files a piece at a time instead: MatchingLines.h.)
    static qint64 LargestFileBytes();

private:
    // Where every line starts, found on first use: a search over the whole file never needs it.
    const std::vector<qsizetype>& starts() const;

    QByteArray m_bytes;
    mutable std::vector<qsizetype> m_starts;
};

// A missing, locked or unreadable file fails with a description for the error report; a file
// larger than LineList::LargestFileBytes() is refused before it is read.
Result<LineList> ReadFileLines(const QString& path);
