#pragma once

#include <QByteArray>

#include <string_view>

// How quillory-extract prints its rows for other programs to read.
//   text   the row and a line feed; with the file's name first and a tab when asked for.
//   tsv    the file's name, a tab, the row, a line feed; in both, a tab, line feed, carriage return and backslash
//          are written \t, \n, \r and \\, so that every row is one line and the name one field.
//   jsonl  one JSON object a line, {"file": ..., "row": ...}, valid UTF-8: a byte that is not part of UTF-8 (a
//          file name from an older system) is written as the escape \udcXX of its value XX, not dropped.
namespace RowFormats {

enum class Format
{
    Text,
    Tsv,
    Jsonl,
};

// What comes before each row of the file whose name is nativePath (in jsonl, up to the row's opening quote).
QByteArray Prefix(Format format, bool withFileName, const QByteArray& nativePath);
// The file's prefix, the row itself and what ends it.
void AppendRow(Format format, QByteArray& out, std::string_view prefix, std::string_view row);

// The same bytes for a row given in parts, each ending between two characters: the prefix, each part in turn, then
// what ends the row.
void AppendRowStart(QByteArray& out, std::string_view prefix);
void AppendRowPart(Format format, QByteArray& out, std::string_view part);
void AppendRowEnd(Format format, QByteArray& out);

} // namespace RowFormats
