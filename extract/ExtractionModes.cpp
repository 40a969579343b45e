#include "ExtractionModes.h"

#include "AnsiCodec.h"
#include "DocumentLoader.h"

#include <algorithm>
#include <array>
#include <string>

namespace {

void appendLowerCase(std::string& out, std::string_view text)
{
    const bool ascii =
        std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (!ascii) {
        out.append(QString::fromUtf8(text.data(), qsizetype(text.size())).toLower().toUtf8().toStdString());
        return;
    }
    const std::size_t at = out.size();
    out.append(text);
    for (std::size_t i = at; i < out.size(); ++i)
        if (out[i] >= 'A' && out[i] <= 'Z')
            out[i] = char(out[i] + 32);
}

// The search text as code-page bytes folded to lower case, ready to compare with folded file
// bytes. Empty optional when some character of it cannot occur in a code-page file at all.
std::optional<std::string> foldedNeedle(QStringView text)
{
    const auto& lower = AnsiCodec::lowerCaseTable();
    std::string needle;
    needle.reserve(std::size_t(text.size()));
    for (const QChar c : text) {
        if (c.isSurrogate())
            return std::nullopt;
        int byte = AnsiCodec::fromUnicode(c.unicode());
        if (byte < 0)
            byte = AnsiCodec::fromUnicode(c.toLower().unicode());
        if (byte < 0)
            byte = AnsiCodec::fromUnicode(c.toUpper().unicode());
        if (byte < 0)
            return std::nullopt;
        needle.push_back(char(lower[std::size_t(byte)]));
    }
    return needle;
}

// Case-insensitive Boyer-Moore-Horspool over raw file bytes: whole files are searched at once
// rather than line by line, which is what keeps this mode as fast as grep.
class FoldedSearcher
{
public:
    explicit FoldedSearcher(std::string needle) : m_needle(std::move(needle)), m_lower(AnsiCodec::lowerCaseTable())
    {
        const std::size_t m = m_needle.size();
        m_skip.fill(m);
        for (std::size_t i = 0; i + 1 < m; ++i)
            m_skip[static_cast<unsigned char>(m_needle[i])] = m - 1 - i;
    }

    // The first position at or after from where the needle occurs, or -1.
    qsizetype find(const char* haystack, qsizetype size, qsizetype from) const
    {
        const auto* h = reinterpret_cast<const unsigned char*>(haystack);
        const auto* n = reinterpret_cast<const unsigned char*>(m_needle.data());
        const qsizetype m = qsizetype(m_needle.size());
        qsizetype position = from;
        while (position + m <= size) {
            const unsigned char last = m_lower[h[position + m - 1]];
            if (last == n[m - 1]) {
                qsizetype j = m - 2;
                while (j >= 0 && m_lower[h[position + j]] == n[j])
                    --j;
                if (j < 0)
                    return position;
            }
            position += qsizetype(m_skip[last]);
        }
        return -1;
    }

private:
    std::string m_needle;
    const std::array<unsigned char, 256>& m_lower;
    std::array<std::size_t, 256> m_skip{};
};

} // namespace

void EmitLeafTexts(const HtmlDocument& document, const RowSink& sink)
{
    const HtmlElement body = document.body();
    if (body.isNull())
        return;
    for (const HtmlElement element : body.all()) {
        if (element.all().length() == 0)
            sink(element.innerText());
    }
}

void EmitElementBlocks(const HtmlDocument& document, QStringView tagName, const RowSink& sink)
{
    const QByteArray name = tagName.toUtf8();
    const HtmlElementCollection matches =
        document.getElementsByTagName(std::string_view(name.constData(), std::size_t(name.size())));
    const std::uint32_t count = matches.length();
    std::string piece;
    for (std::uint32_t j = 0; j < count; ++j) {
        sink("<tr>");
        const std::string markup = matches.item(j).innerHTML();
        if (!markup.empty()) {
            std::size_t start = 0;
            while (true) {
                const std::size_t pair = markup.find("\r\n", start);
                const std::size_t stop = pair == std::string::npos ? markup.size() : pair;
                piece.clear();
                appendLowerCase(piece, std::string_view(markup).substr(start, stop - start));
                sink(piece);
                if (pair == std::string::npos)
                    break;
                start = pair + 2;
            }
        }
        sink("</tr>");
    }
}

void EmitMatchingLines(const LineList& lines, QStringView searchText, const RowSink& sink)
{
    std::optional<std::string> needle = foldedNeedle(searchText);
    if (!needle || needle->empty())
        return;
    const qsizetype needleLength = qsizetype(needle->size());
    const FoldedSearcher searcher(std::move(*needle));
    const QByteArray& bytes = lines.fileBytes();
    const char* data = bytes.constData();
    const qsizetype size = bytes.size();

    std::string row;
    qsizetype line = 0;
    qsizetype from = 0;
    while (true) {
        const qsizetype hit = searcher.find(data, size, from);
        if (hit < 0)
            break;
        while (line + 1 < lines.count() && lines.start(line + 1) <= hit)
            ++line;
        const qsizetype end = lines.end(line);
        if (hit + needleLength > end) {
            // The match runs into the line's terminator: lines are never joined.
            from = hit + 1;
            continue;
        }
        row.clear();
        const QByteArrayView text = lines.bytes(line);
        qsizetype kept = 0;
        for (qsizetype i = 0; i < text.size(); ++i) {
            const char c = text[i];
            if (c == '\n' || c == '\r' || c == '\t') {
                AnsiCodec::appendUtf8(row, std::string_view(text.data() + kept, std::size_t(i - kept)));
                kept = i + 1;
            }
        }
        AnsiCodec::appendUtf8(row, std::string_view(text.data() + kept, std::size_t(text.size() - kept)));
        sink(row);
        if (line + 1 >= lines.count())
            break;
        from = lines.start(line + 1);
    }
}

void EmitTagNames(const HtmlDocument& document, const RowSink& sink)
{
    std::string name;
    for (const HtmlElement element : document.all()) {
        name.clear();
        appendLowerCase(name, element.tagName());
        sink(name);
    }
}

std::optional<StepFailure> ExtractFile(ExtractionMode mode, const QString& path, const ExtractionTexts& texts,
                                       HtmlParser& parser, const RowSink& sink)
{
    if (mode == ExtractionMode::MatchingLines) {
        Result<LineList> lines = RFTSFSO::ReadFileLines(path);
        if (!lines)
            return StepFailure{168, lines.failure().description};
        EmitMatchingLines(*lines, texts.searchText, sink);
        return std::nullopt;
    }

    const int createStep = mode == ExtractionMode::LeafTexts ? 128 : mode == ExtractionMode::ElementBlocks ? 144 : 180;
    Result<std::unique_ptr<HtmlDocument>> document = LoadHtmlDocument(path, parser);
    if (!document)
        return StepFailure{createStep, document.failure().description};
    switch (mode) {
    case ExtractionMode::LeafTexts:
        EmitLeafTexts(**document, sink);
        break;
    case ExtractionMode::ElementBlocks:
        EmitElementBlocks(**document, texts.tagName, sink);
        break;
    case ExtractionMode::TagNames:
        EmitTagNames(**document, sink);
        break;
    case ExtractionMode::MatchingLines:
        break;
    }
    return std::nullopt;
}
