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

    qsizetype count() const { return qsizetype(m_starts.size()); }
    // The raw bytes of line k (counted from 0).
    QByteArrayView bytes(qsizetype k) const;
    // Line k decoded through the ANSI codec.
    QString text(qsizetype k) const;

    // Where line k's content begins and ends in the file's bytes.
    qsizetype start(qsizetype k) const { return m_starts[std::size_t(k)]; }
    qsizetype end(qsizetype k) const;
    const QByteArray& fileBytes() const { return m_bytes; }

private:
    QByteArray m_bytes;
    std::vector<qsizetype> m_starts;
};

namespace RFTSFSO {

// A missing, locked or unreadable file fails with a description for the error report.
Result<LineList> ReadFileLines(const QString& path);

} // namespace RFTSFSO
