#include "ResultsExport.h"

#include "AnsiCodec.h"
#include "Clipboard.h"
#include "EventPump.h"
#include "ResultsFormat.h"
#include "ResultsList.h"

#include "SaveFile.h"
#include "Utf8Text.h"

#include <vector>

namespace {

QString describe(const SaveFile& file)
{
    return QStringLiteral("Path/File access error (%1)").arg(file.errorString());
}

// Opens the target's stand-in, hands it to write, then commits it over the target at commitStep.
std::optional<ExportFailure> writeSafely(const QString& path, ExportStep commitStep,
                                         const std::function<std::optional<ExportFailure>(SaveFile&)>& write)
{
    SaveFile file(path);
    if (!file.open())
        return ExportFailure{ExportStep::OpenTarget, describe(file)};
    if (std::optional<ExportFailure> failure = write(file)) {
        file.cancel();
        return failure;
    }
    if (!file.commit())
        return ExportFailure{commitStep, describe(file)};
    return std::nullopt;
}

ExportFailure rowGone(int position)
{
    return ExportFailure{ExportStep::ReadRow, QStringLiteral("Invalid property value (row %1 is gone)").arg(position)};
}

// Writes every row, read afresh by position, in the ANSI code page followed by after, letting the window process its
// events before each one and between the slices of a long one. The count is taken once; rows cleared away meanwhile
// fail the save.
std::optional<ExportFailure> writeRows(SaveFile& file, const ResultsList& results, EventPump& events, int* rowsDone,
                                       QByteArrayView after, ExportStep writeStep)
{
    QByteArray out;
    const int count = results.Count();
    for (int position = 1; position <= count; ++position) {
        events.processEvents();
        if (position > results.Count())
            return rowGone(position);
        QByteArrayView row = results.Utf8(position);
        const qsizetype size = row.size();
        for (qsizetype done = 0;;) {
            // Cut between characters, each slice converts to the bytes it gives as part of the whole row.
            const qsizetype end =
                size - done <= kSaveSliceBytes ? size : Utf8Text::characterStart(row, done + kSaveSliceBytes);
            out.truncate(0);
            AnsiCodec::appendEncodedUtf8(out, row.sliced(done, end - done));
            done = end;
            if (done == size)
                out.append(after);
            if (!file.write(out))
                return ExportFailure{writeStep, describe(file)};
            if (done == size)
                break;
            events.processEvents();
            // The row's bytes are gone with the list if it was cleared meanwhile.
            if (position > results.Count() || results.Utf8(position).size() != size)
                return rowGone(position);
            row = results.Utf8(position);
        }
        if (rowsDone)
            *rowsDone = position;
    }
    return std::nullopt;
}

} // namespace

std::optional<ExportFailure> SaveResultsAsText(const QString& path, const ResultsList& results, EventPump& events,
                                               int* rowsDone)
{
    return writeSafely(path, ExportStep::CommitTextFile, [&](SaveFile& file) {
        return writeRows(file, results, events, rowsDone, ResultsFormat::kLineEnd, ExportStep::WriteTextLine);
    });
}

std::optional<ExportFailure> SaveResultsAsCommaDelimited(const QString& path, const ResultsList& results,
                                                         EventPump& events, int* rowsDone)
{
    return writeSafely(path, ExportStep::CommitCommaFile, [&](SaveFile& file) -> std::optional<ExportFailure> {
        // Every row goes out as it is converted, so that the save never holds a second copy of the list.
        if (std::optional<ExportFailure> failure =
                writeRows(file, results, events, rowsDone, ",", ExportStep::WriteCommaField))
            return failure;
        if (!file.write(ResultsFormat::kLineEnd))
            return ExportFailure{ExportStep::EndCommaLine, describe(file)};
        return std::nullopt;
    });
}

void ClearClipboard(Clipboard& clipboard)
{
    for (int attempt = 0; attempt < 1000; ++attempt)
        if (clipboard.clear())
            return;
}

bool SetClipboardText(Clipboard& clipboard, const QString& text, int format)
{
    (void)format; // plain text is the only format the program uses
    for (int attempt = 0; attempt < 1000; ++attempt)
        if (clipboard.setText(text))
            return true;
    return false;
}

std::optional<Failure> CopyListToClipboard(const CopyableList& list, Clipboard& clipboard, EventPump& events,
                                           int* rowsDone)
{
    if (list.rowCount() == 0)
        return std::nullopt;
    auto gone = [](int row) {
        return Failure{QStringLiteral("Invalid property value (row %1 is gone)").arg(row)};
    };

    std::vector<qsizetype> widths;
    for (int column = 1; column <= list.columnCount; ++column) {
        qsizetype widest = 0;
        const int rows = list.rowCount();
        for (int row = 1; row <= rows; ++row) {
            events.processEvents();
            // The last column is never padded, so its width is not needed: its cells are not read here, which
            // spares a list of one column a second reading of every row. Its pass still lets the window breathe once
            // a row, as the others do, and notices a list cleared meanwhile.
            if (column == list.columnCount) {
                if (row > list.rowCount())
                    return gone(row);
                continue;
            }
            const std::optional<QString> cell = list.cell(row, column);
            if (!cell)
                return gone(row);
            widest = std::max(widest, cell->size());
        }
        widths.push_back(widest);
    }

    QString text;
    const int rows = list.rowCount();
    for (int row = 1; row <= rows; ++row) {
        events.processEvents();
        if (!list.taken(row))
            continue;
        for (int column = 1; column <= list.columnCount; ++column) {
            events.processEvents();
            const std::optional<QString> cell = list.cell(row, column);
            if (!cell)
                return gone(row);
            text += *cell;
            // The last cell's padding is trimmed off again below; not writing it keeps one very
            // wide row from costing its width on every other row.
            const qsizetype width = widths[std::size_t(column - 1)];
            if (column < list.columnCount && width >= cell->size())
                text += QString(width - cell->size(), u' ');
            text += u'\t';
        }
        text.chop(1);
        while (text.endsWith(u' '))
            text.chop(1);
        text += QStringLiteral("\r\n");
        if (rowsDone)
            *rowsDone = row;
    }

    ClearClipboard(clipboard);
    // Plain ANSI text: what the code page cannot hold arrives as "?". The laid-out text goes before
    // its ANSI copy is decoded, so a full results list never needs three copies of itself at once.
    QByteArray ansi = AnsiCodec::encode(text);
    text = QString();
    text = AnsiCodec::decode(ansi);
    ansi = QByteArray();
    SetClipboardText(clipboard, text, 0);
    return std::nullopt;
}
