#pragma once

#include <QByteArray>
#include <QStringList>
#include <QStringView>

// The bytes of the two result files. Rows are written as they are, in the ANSI code page ("?"
// for what it cannot hold): the text file puts each row on a line ended by CR LF; the
// comma-delimited file puts every row, each followed by a comma, on one line ended by CR LF.
namespace ResultsFormat {

inline constexpr char kLineEnd[] = "\r\n";

void appendTextLine(QByteArray& out, QStringView row);
void appendCommaField(QByteArray& out, QStringView row);

QByteArray textFile(const QStringList& rows);
QByteArray commaDelimitedFile(const QStringList& rows);

} // namespace ResultsFormat
