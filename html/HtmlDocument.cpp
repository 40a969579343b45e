#include "HtmlDocument.h"

namespace {

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = char(x + 32);
        if (y >= 'A' && y <= 'Z')
            y = char(y + 32);
        if (x != y)
            return false;
    }
    return true;
}

} // namespace

HtmlElementCollection HtmlElement::all() const
{
    return HtmlElementCollection(m_document, m_index + 1, m_document->subtreeEnd(m_index));
}

std::string HtmlElement::innerText() const
{
    std::string text;
    m_document->innerText(m_index, text);
    return text;
}

std::string HtmlElement::innerHTML() const
{
    std::string markup;
    m_document->innerHTML(m_index, markup);
    return markup;
}

void HtmlElement::innerText(std::string& out) const
{
    m_document->innerText(m_index, out);
}

void HtmlElement::innerHTML(std::string& out) const
{
    m_document->innerHTML(m_index, out);
}

std::string_view HtmlElement::tagName() const
{
    return m_document->tagName(m_index);
}

HtmlElement HtmlDocument::body() const
{
    const std::int64_t index = bodyIndex();
    return index < 0 ? HtmlElement() : HtmlElement(this, std::uint32_t(index));
}

HtmlElementCollection HtmlDocument::getElementsByTagName(std::string_view name) const
{
    const std::uint32_t count = elementCount();
    if (name == "*")
        return HtmlElementCollection(this, 0, count);
    std::vector<std::uint32_t> matches;
    if (!name.empty()) {
        // Documents repeat a handful of names; compare each distinct name once.
        std::string_view lastName;
        bool lastMatched = false;
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::string_view tag = tagName(i);
            if (tag.data() != lastName.data() || tag.size() != lastName.size()) {
                lastName = tag;
                lastMatched = equalsIgnoringAsciiCase(tag, name);
            }
            if (lastMatched)
                matches.push_back(i);
        }
    }
    return HtmlElementCollection(this, std::move(matches));
}
