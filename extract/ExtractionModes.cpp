#include "ExtractionModes.h"

#include "Utf8.h"

#include <QChar>

#include <cstring>
#include <string>

namespace {

// Lower case as a whole, in place: ASCII directly, anything else through Unicode's case
// mapping one character at a time. The text is valid UTF-8 (the document model guarantees it).
void toLowerCase(std::string& text)
{
    auto* s = reinterpret_cast<unsigned char*>(text.data());
    std::size_t n = text.size();
    for (std::size_t i = 0; i < n;) {
        const unsigned char b = s[i];
        if (b < 0x80) {
            if (b >= 'A' && b <= 'Z')
                s[i] = static_cast<unsigned char>(b + 32);
            ++i;
            continue;
        }
        char32_t c = b;
        std::size_t length = 1;
        if (b >= 0xF0 && i + 3 < n) {
            c = ((c & 0x07) << 18) | ((s[i + 1] & 0x3F) << 12) | ((s[i + 2] & 0x3F) << 6) | (s[i + 3] & 0x3F);
            length = 4;
        } else if (b >= 0xE0 && i + 2 < n) {
            c = ((c & 0x0F) << 12) | ((s[i + 1] & 0x3F) << 6) | (s[i + 2] & 0x3F);
            length = 3;
        } else if (b >= 0xC0 && i + 1 < n) {
            c = ((c & 0x1F) << 6) | (s[i + 1] & 0x3F);
            length = 2;
        }
        const char32_t lower = QChar::toLower(c);
        if (lower != c || c == 0x130) {
            std::string encoded;
            if (c == 0x130)
                encoded = "i\xCC\x87"; // the one capital whose lower case is two characters
            else
                Utf8::appendCodePoint(encoded, lower);
            if (encoded.size() == length) {
                std::memcpy(s + i, encoded.data(), length);
            } else {
                // A few mappings change the length; rare enough to splice.
                text.replace(i, length, encoded);
                s = reinterpret_cast<unsigned char*>(text.data());
                n = text.size();
                length = encoded.size();
            }
        }
        i += length;
    }
}

} // namespace

void EmitLeafTexts(const HtmlDocument& document, const RowSink& sink)
{
    const HtmlElement body = document.body();
    if (body.isNull())
        return;
    std::string text;
    for (const HtmlElement element : body.all()) {
        if (element.all().length() == 0) {
            element.innerText(text);
            sink(text);
        }
    }
}

void EmitElementBlocks(const HtmlDocument& document, QStringView tagName, const RowSink& sink)
{
    const QByteArray name = tagName.toUtf8();
    const HtmlElementCollection matches =
        document.getElementsByTagName(std::string_view(name.constData(), std::size_t(name.size())));
    const std::uint32_t count = matches.length();
    std::string markup;
    for (std::uint32_t j = 0; j < count; ++j) {
        sink("<tr>");
        matches.item(j).innerHTML(markup);
        if (!markup.empty()) {
            toLowerCase(markup);
            const std::string_view text = markup;
            std::size_t start = 0;
            while (true) {
                const std::size_t pair = text.find("\r\n", start);
                sink(text.substr(start, pair == std::string_view::npos ? std::string_view::npos : pair - start));
                if (pair == std::string_view::npos)
                    break;
                start = pair + 2;
            }
        }
        sink("</tr>");
    }
}

void EmitTagNames(const HtmlDocument& document, const RowSink& sink)
{
    std::string name;
    for (const HtmlElement element : document.all()) {
        name.assign(element.tagName());
        toLowerCase(name);
        sink(name);
    }
}

void EmitDocumentRows(const HtmlDocument& document, ExtractionMode mode, QStringView tagName, const RowSink& sink)
{
    switch (mode) {
    case ExtractionMode::LeafTexts:
        EmitLeafTexts(document, sink);
        break;
    case ExtractionMode::ElementBlocks:
        EmitElementBlocks(document, tagName, sink);
        break;
    case ExtractionMode::TagNames:
        EmitTagNames(document, sink);
        break;
    case ExtractionMode::MatchingLines:
        break;
    }
}
