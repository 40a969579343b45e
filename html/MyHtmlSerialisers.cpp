// The serialisers of the document model over MyHTML: an element's innerHTML and innerText.

#include "MyHtmlDocument.h"

#include <algorithm>
#include <array>
#include <unordered_set>

using namespace MyHtmlNodes;

namespace {

bool isVoid(const Node* node)
{
    if (node->ns != MyHTML_NAMESPACE_HTML)
        return false;
    switch (node->tag_id) {
    case MyHTML_TAG_AREA:
    case MyHTML_TAG_BASE:
    case MyHTML_TAG_BASEFONT:
    case MyHTML_TAG_BGSOUND:
    case MyHTML_TAG_BR:
    case MyHTML_TAG_COL:
    case MyHTML_TAG_EMBED:
    case MyHTML_TAG_FRAME:
    case MyHTML_TAG_HR:
    case MyHTML_TAG_IMG:
    case MyHTML_TAG_INPUT:
    case MyHTML_TAG_KEYGEN:
    case MyHTML_TAG_LINK:
    case MyHTML_TAG_META:
    case MyHTML_TAG_PARAM:
    case MyHTML_TAG_SOURCE:
    case MyHTML_TAG_TRACK:
    case MyHTML_TAG_WBR:
        return true;
    default:
        return false;
    }
}

// Text whose parent is one of these is serialised as it stands, without escaping.
bool holdsRawText(const Node* node)
{
    if (node == nullptr || node->ns != MyHTML_NAMESPACE_HTML)
        return false;
    switch (node->tag_id) {
    case MyHTML_TAG_STYLE:
    case MyHTML_TAG_SCRIPT:
    case MyHTML_TAG_XMP:
    case MyHTML_TAG_IFRAME:
    case MyHTML_TAG_NOEMBED:
    case MyHTML_TAG_NOFRAMES:
    case MyHTML_TAG_PLAINTEXT:
        return true;
    default:
        return false;
    }
}

std::string_view nodeText(Node* node)
{
    std::size_t length = 0;
    const char* text = myhtml_node_text(node, &length);
    return text ? std::string_view(text, length) : std::string_view();
}

bool isAsciiSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

// Appends text, writing every line feed as CR LF and escaping what markup would misread.
enum class Escape
{
    None,
    Text,
    Attribute,
};

// Which bytes need a look in each escaping mode: line feeds always, the markup characters where
// they must be escaped, and 0xC2 as the lead byte of a no-break space.
struct SpecialBytes
{
    std::array<std::array<bool, 256>, 3> table{};
    SpecialBytes()
    {
        for (auto& mode : table)
            mode['\n'] = true;
        for (const int mode : {int(Escape::Text), int(Escape::Attribute)})
            for (const unsigned char c : {0x26, 0x3C, 0x3E, 0xC2}) // & < > and the no-break space's lead byte
                table[std::size_t(mode)][c] = true;
        table[std::size_t(Escape::Attribute)]['"'] = true;
    }
};

void appendSerialised(std::string& out, std::string_view text, Escape escape)
{
    static const SpecialBytes special;
    const std::array<bool, 256>& needsLook = special.table[std::size_t(escape)];
    const char* data = text.data();
    const std::size_t size = text.size();
    std::size_t start = 0;
    for (std::size_t i = 0; i < size; ++i) {
        if (!needsLook[static_cast<unsigned char>(data[i])])
            continue;
        const char* replacement = nullptr;
        std::size_t skip = 1;
        switch (data[i]) {
        case '\n':
            replacement = "\r\n";
            break;
        case '&':
            replacement = "&amp;";
            break;
        case '<':
            replacement = "&lt;";
            break;
        case '>':
            replacement = "&gt;";
            break;
        case '"':
            replacement = "&quot;";
            break;
        default: // U+00A0 is C2 A0 in UTF-8
            if (i + 1 < size && data[i + 1] == '\xA0') {
                replacement = "&nbsp;";
                skip = 2;
            }
            break;
        }
        if (replacement) {
            out.append(data + start, i - start);
            out.append(replacement);
            i += skip - 1;
            start = i + 1;
        }
    }
    out.append(data + start, size - start);
}

// Whether an attribute of the same name came earlier on the same tag: the tokenizer keeps the first
// and drops the rest. Names are compared as the tokenizer saw them, without regard to case and with
// their prefix, since MyHTML adjusts only the first of two foreign attributes (viewbox to viewBox,
// xlink:href to href in the XLink namespace). The names already written are looked up where they
// stand in the markup; a hostile tag with thousands of attributes is searched through a hash set.
class AttributesSeen
{
public:
    explicit AttributesSeen(const std::string& markup) : m_markup(markup) {}

    // The name that stands at [start, start + length) of the markup.
    bool seenBefore(std::size_t start, std::size_t length)
    {
        const std::string_view name(m_markup.data() + start, length);
        if (m_count < m_listed.size()) {
            for (std::size_t i = 0; i < m_count; ++i)
                if (sameName(std::string_view(m_markup.data() + m_listed[i].first, m_listed[i].second), name))
                    return true;
            m_listed[m_count++] = {start, length};
            return false;
        }
        if (m_hashed.empty())
            for (const auto& [at, size] : m_listed)
                m_hashed.insert(lowered(std::string_view(m_markup.data() + at, size)));
        return !m_hashed.insert(lowered(name)).second;
    }

private:
    static bool sameName(std::string_view a, std::string_view b)
    {
        return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
                   return (x >= 'A' && x <= 'Z' ? x + 32 : x) == (y >= 'A' && y <= 'Z' ? y + 32 : y);
               });
    }
    static std::string lowered(std::string_view name)
    {
        std::string out(name);
        for (char& c : out)
            if (c >= 'A' && c <= 'Z')
                c = char(c + 32);
        return out;
    }

    const std::string& m_markup;
    std::array<std::pair<std::size_t, std::size_t>, 32> m_listed;
    std::size_t m_count = 0;
    std::unordered_set<std::string> m_hashed;
};

// The element's start tag, with its attributes.
void appendStartTag(const MyHtmlDocument& document, std::string& out, Node* node)
{
    out.push_back('<');
    out.append(document.nameOf(node));
    AttributesSeen seen(out);
    for (myhtml_tree_attr_t* attr = myhtml_node_attribute_first(node); attr; attr = myhtml_attribute_next(attr)) {
        std::size_t keyLength = 0, valueLength = 0;
        const char* key = myhtml_attribute_key(attr, &keyLength);
        const char* value = myhtml_attribute_value(attr, &valueLength);
        const std::string_view keyText(key ? key : "", key ? keyLength : 0);
        // MyHTML makes a nameless attribute of the '/' that closes a tag after a valueless one
        // (<input checked />); a tag has no such attribute.
        if (keyText.empty())
            continue;
        std::string_view prefix;
        switch (myhtml_attribute_namespace(attr)) {
        case MyHTML_NAMESPACE_XLINK:
            prefix = "xlink:";
            break;
        case MyHTML_NAMESPACE_XML:
            prefix = "xml:";
            break;
        case MyHTML_NAMESPACE_XMLNS:
            if (keyText != "xmlns")
                prefix = "xmlns:";
            break;
        default:
            break;
        }
        const std::size_t nameStart = out.size() + 1;
        out.push_back(' ');
        out.append(prefix);
        out.append(keyText);
        if (seen.seenBefore(nameStart, out.size() - nameStart)) {
            out.resize(nameStart - 1);
            continue;
        }
        out.append("=\"");
        appendSerialised(out, std::string_view(value ? value : "", value ? valueLength : 0), Escape::Attribute);
        out.push_back('"');
    }
    out.push_back('>');
}

void appendEndTag(const MyHtmlDocument& document, std::string& out, Node* node)
{
    out.append("</");
    out.append(document.nameOf(node));
    out.push_back('>');
}

} // namespace

// The HTML fragment serialisation of the element's children, walked without recursion.
void MyHtmlDocument::innerHTML(std::uint32_t index, std::string& out) const
{
    Node* root = m_elements[index].node;
    out.clear();
    if (isVoid(root))
        return;
    Node* node = root->child;
    while (node) {
        bool descend = false;
        if (isElement(node)) {
            appendStartTag(*this, out, node);
            if (!isVoid(node)) {
                if (node->child)
                    descend = true;
                else
                    appendEndTag(*this, out, node);
            }
        } else if (node->tag_id == MyHTML_TAG__TEXT) {
            appendSerialised(out, nodeText(node), holdsRawText(node->parent) ? Escape::None : Escape::Text);
        } else if (node->tag_id == MyHTML_TAG__COMMENT) {
            out.append("<!--");
            appendSerialised(out, nodeText(node), Escape::None);
            out.append("-->");
        }
        if (descend) {
            node = node->child;
            continue;
        }
        while (node) {
            if (node->next) {
                node = node->next;
                break;
            }
            node = node->parent;
            if (node == root) {
                node = nullptr;
                break;
            }
            appendEndTag(*this, out, node);
        }
    }
}

void MyHtmlDocument::innerText(std::uint32_t index, std::string& out) const
{
    const Element& element = m_elements[index];
    out.clear();
    const bool asItStands = element.flags & (Unrendered | KeepsWhiteSpace);
    // Whether a space is owed before the next visible character; collapsing runs of white space
    // to one space and trimming both ends, as rendering does, in the same pass as gathering.
    bool pendingSpace = false;

    // The text of every descendant text node (comments are not text), without recursion; what
    // the browser does not render is left out unless the element itself is such.
    Node* root = element.node;
    Node* node = root->child;
    while (node) {
        if (node->tag_id == MyHTML_TAG__TEXT) {
            const std::string_view text = nodeText(node);
            if (asItStands) {
                out.append(text);
            } else {
                std::size_t start = 0;
                for (std::size_t i = 0; i < text.size(); ++i) {
                    if (!isAsciiSpace(text[i]))
                        continue;
                    if (i > start) {
                        if (pendingSpace)
                            out.push_back(' ');
                        out.append(text.data() + start, i - start);
                    }
                    pendingSpace = !out.empty();
                    start = i + 1;
                }
                if (text.size() > start) {
                    if (pendingSpace)
                        out.push_back(' ');
                    pendingSpace = false;
                    out.append(text.data() + start, text.size() - start);
                }
            }
        }
        node = nextInside(root, node, isElement(node) && !(isUnrendered(node) && !(element.flags & Unrendered)));
    }
}
