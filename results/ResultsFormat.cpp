#include "ResultsFormat.h"

#include "AnsiCodec.h"

namespace ResultsFormat {

void appendTextLine(QByteArray& out, QStringView row)
{
    out.append(AnsiCodec::encode(row));
    out.append(kLineEnd);
}

void appendCommaField(QByteArray& out, QStringView row)
{
    out.append(AnsiCodec::encode(row));
    out.append(',');
}

QByteArray textFile(const QStringList& rows)
{
    QByteArray out;
    for (const QString& row : rows)
        appendTextLine(out, row);
    return out;
}

QByteArray commaDelimitedFile(const QStringList& rows)
{
    QByteArray out;
    for (const QString& row : rows)
        appendCommaField(out, row);
    out.append(kLineEnd);
    return out;
}

} // namespace ResultsFormat
