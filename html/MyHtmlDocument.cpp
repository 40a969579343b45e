// The document model over MyHTML (from Debian's libmodest), parsing in single-thread mode.

#include "HtmlDocument.h"
#include "HtmlEncoding.h"
#include "MyHtmlTreeRules.h"

#include <myhtml/myhtml.h>
#include <myhtml/tree.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <unordered_set>
#include <utility>

namespace {

using Node = myhtml_tree_node_t;

bool isElement(const Node* node)
{
    const myhtml_tag_id_t tag = node->tag_id;
    return tag > MyHTML_TAG__DOCTYPE && tag != MyHTML_TAG__END_OF_FILE;
}

bool isHtml(const Node* node, myhtml_tag_id_t tag)
{
    return node->tag_id == tag && node->ns == MyHTML_NAMESPACE_HTML;
}

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

// Elements whose white space a browser shows as it is (and so keeps in innerText).
bool keepsWhiteSpace(const Node* node)
{
    if (node->ns != MyHTML_NAMESPACE_HTML)
        return false;
    switch (node->tag_id) {
    case MyHTML_TAG_PRE:
    case MyHTML_TAG_TEXTAREA:
    case MyHTML_TAG_LISTING:
    case MyHTML_TAG_XMP:
    case MyHTML_TAG_PLAINTEXT:
        return true;
    default:
        return false;
    }
}

// Elements a browser does not render: their innerText is their text, unchanged.
bool isUnrendered(const Node* node)
{
    return isHtml(node, MyHTML_TAG_SCRIPT) || isHtml(node, MyHTML_TAG_STYLE) || isHtml(node, MyHTML_TAG_TEMPLATE);
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

// The MyHTML instance of one parser, with one tree kept for reuse: a cleaned tree keeps its
// memory pools, which makes parsing many files about twice as fast as a new tree per file.
// The node after node in document order among root's descendants, or null at the end. The
// walk goes below node only when descend is true. No recursion, so no depth exhausts the stack.
Node* nextInside(Node* root, Node* node, bool descend)
{
    if (descend && node->child)
        return node->child;
    while (node && node != root) {
        if (node->next)
            return node->next;
        node = node->parent;
    }
    return nullptr;
}

struct MyHtmlEngine
{
    myhtml_t* myhtml = nullptr;
    // Two, so that a document can be read while the next one is parsed.
    std::vector<myhtml_tree_t*> spareTrees;

    MyHtmlEngine()
    {
        myhtml = myhtml_create();
        if (myhtml && myhtml_init(myhtml, MyHTML_OPTIONS_PARSE_MODE_SINGLE, 1, 0) != MyHTML_STATUS_OK) {
            myhtml_destroy(myhtml);
            myhtml = nullptr;
        }
    }
    ~MyHtmlEngine()
    {
        for (myhtml_tree_t* tree : spareTrees)
            myhtml_tree_destroy(tree);
        if (myhtml)
            myhtml_destroy(myhtml);
    }
    MyHtmlEngine(const MyHtmlEngine&) = delete;
    MyHtmlEngine& operator=(const MyHtmlEngine&) = delete;

    // A document may be given back on another thread than the one parsing the next.
    std::mutex spareMutex;

    myhtml_tree_t* takeTree()
    {
        {
            const std::lock_guard lock(spareMutex);
            if (!spareTrees.empty()) {
                myhtml_tree_t* tree = spareTrees.back();
                spareTrees.pop_back();
                return tree;
            }
        }
        myhtml_tree_t* tree = myhtml_tree_create();
        if (tree && myhtml_tree_init(tree, myhtml) != MyHTML_STATUS_OK) {
            myhtml_tree_destroy(tree);
            tree = nullptr;
        }
        return tree;
    }

    void giveBack(myhtml_tree_t* tree)
    {
        myhtml_tree_clean(tree);
        const std::lock_guard lock(spareMutex);
        if (spareTrees.size() >= 2)
            myhtml_tree_destroy(tree);
        else
            spareTrees.push_back(tree);
    }
};

class MyHtmlDocument final : public HtmlDocument
{
public:
    MyHtmlDocument(std::shared_ptr<MyHtmlEngine> engine, myhtml_tree_t* tree, QByteArray input)
        : m_engine(std::move(engine)), m_tree(tree), m_input(std::move(input))
    {
        index();
    }
    ~MyHtmlDocument() override { m_engine->giveBack(m_tree); }

    QString readyState() const override { return QStringLiteral("complete"); }
    std::uint32_t elementCount() const override { return std::uint32_t(m_elements.size()); }
    std::int64_t bodyIndex() const override { return m_body; }
    std::uint32_t subtreeEnd(std::uint32_t index) const override { return m_elements[index].end; }
    std::string_view tagName(std::uint32_t index) const override { return nameOf(m_elements[index].node); }
    void innerText(std::uint32_t index, std::string& out) const override;
    void innerHTML(std::uint32_t index, std::string& out) const override;

private:
    enum Flags : std::uint8_t
    {
        KeepsWhiteSpace = 1,
        Unrendered = 2,
    };
    struct Element
    {
        Node* node;
        std::uint32_t end;
        std::uint8_t flags;
    };

    static std::uint32_t indexOf(Node* node) { return std::uint32_t(reinterpret_cast<std::uintptr_t>(node->data)); }
    void index();
    bool isNumbered(Node* node) const;
    std::string_view nameOf(Node* node) const;
    void learnName(Node* node);
    void learnNamesBelow(Node* root);
    void appendStartTag(std::string& out, Node* node) const;
    void appendEndTag(std::string& out, Node* node) const;

    std::shared_ptr<MyHtmlEngine> m_engine;
    myhtml_tree_t* m_tree;
    // The parser's incoming buffers point into the bytes it was given: they live as long as the tree.
    QByteArray m_input;
    std::vector<Element> m_elements;
    std::int64_t m_body = -1;
    // Tag names by MyHTML tag id and namespace kind, filled while indexing and fixed after.
    std::vector<std::string_view> m_htmlNames;
    std::vector<std::string_view> m_foreignNames;
    // Mended copies of the few names MyHTML keeps otherwise than a browser: in mixed case
    // (clipPath read as HTML) or holding a NUL.
    std::deque<std::string> m_mendedNames;
};

// Numbers every element in document order and records where each one's descendants end, in
// one walk without recursion, so that no depth of nesting can exhaust the stack.
void MyHtmlDocument::index()
{
    Node* document = myhtml_tree_get_document(m_tree);
    Node* node = document ? document->child : nullptr;
    while (node) {
        const bool element = isElement(node);
        if (element) {
            std::uint8_t flags = 0;
            if (node->parent && isElement(node->parent))
                flags = m_elements[indexOf(node->parent)].flags & KeepsWhiteSpace;
            if (keepsWhiteSpace(node))
                flags |= KeepsWhiteSpace;
            if (isUnrendered(node))
                flags |= Unrendered;
            learnName(node);
            node->data = reinterpret_cast<void*>(std::uintptr_t(m_elements.size()));
            m_elements.push_back({node, 0, flags});
        }
        // A template's content is a document fragment of its own in a browser: it is not
        // among the page's elements, though its markup is part of the page's.
        if (element && node->child) {
            if (!isHtml(node, MyHTML_TAG_TEMPLATE)) {
                node = node->child;
                continue;
            }
            learnNamesBelow(node);
        }
        while (node) {
            if (isElement(node))
                m_elements[indexOf(node)].end = std::uint32_t(m_elements.size());
            if (node->next) {
                node = node->next;
                break;
            }
            node = node->parent;
            if (node == document)
                node = nullptr;
        }
    }

    // A frameset that comes after the body was opened implicitly takes the body's place: MyHTML
    // still answers with that body though it is no longer in the tree.
    Node* body = myhtml_tree_get_node_body(m_tree);
    if (body && !isNumbered(body))
        body = nullptr;
    if (!body) {
        // A frameset page has no body; its frameset stands in for it, as document.body does.
        Node* html = myhtml_tree_get_node_html(m_tree);
        for (Node* child = html ? html->child : nullptr; child; child = child->next)
            if (isHtml(child, MyHTML_TAG_FRAMESET)) {
                body = child;
                break;
            }
    }
    if (body)
        m_body = indexOf(body);
}

// Whether the node is one of this document's elements; a node that has left the tree may carry
// any number from an earlier document.
bool MyHtmlDocument::isNumbered(Node* node) const
{
    if (!isElement(node))
        return false;
    const std::uint32_t index = indexOf(node);
    return index < m_elements.size() && m_elements[index].node == node;
}

void MyHtmlDocument::learnNamesBelow(Node* root)
{
    for (Node* node = root->child; node; node = nextInside(root, node, true))
        if (isElement(node))
            learnName(node);
}

std::string_view MyHtmlDocument::nameOf(Node* node) const
{
    const std::vector<std::string_view>& names = node->ns == MyHTML_NAMESPACE_HTML ? m_htmlNames : m_foreignNames;
    return node->tag_id < names.size() ? names[node->tag_id] : std::string_view("unknown");
}

// HTML elements are named in lower case; SVG and MathML keep their mixed-case names
// (clipPath, foreignObject).
void MyHtmlDocument::learnName(Node* node)
{
    const bool html = node->ns == MyHTML_NAMESPACE_HTML;
    std::vector<std::string_view>& names = html ? m_htmlNames : m_foreignNames;
    const myhtml_tag_id_t tag = node->tag_id;
    if (tag < names.size() && !names[tag].empty())
        return;
    if (tag >= names.size())
        names.resize(tag + 1);
    std::size_t length = 0;
    const char* raw = myhtml_tag_name_by_id(m_tree, tag, &length);
    std::string_view name = raw && length ? std::string_view(raw, length) : std::string_view("unknown");
    // The tokenizer reads a NUL in a tag name as U+FFFD; MyHTML keeps the NUL.
    const bool hasNul = name.find('\0') != std::string_view::npos;
    const bool upper = html && std::any_of(name.begin(), name.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
    if (hasNul || upper) {
        std::string& mended = m_mendedNames.emplace_back();
        for (const char c : name) {
            if (c == '\0')
                mended.append("\xEF\xBF\xBD");
            else
                mended.push_back(html && c >= 'A' && c <= 'Z' ? char(c + 32) : c);
        }
        name = mended;
    }
    names[tag] = name;
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

void MyHtmlDocument::appendStartTag(std::string& out, Node* node) const
{
    out.push_back('<');
    out.append(nameOf(node));
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

void MyHtmlDocument::appendEndTag(std::string& out, Node* node) const
{
    out.append("</");
    out.append(nameOf(node));
    out.push_back('>');
}

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
            appendStartTag(out, node);
            if (!isVoid(node)) {
                if (node->child)
                    descend = true;
                else
                    appendEndTag(out, node);
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
            appendEndTag(out, node);
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

// Feeds the whole input to the tree and ends the parse, mending what MyHTML gets wrong when the
// file ends in the middle of a tag. A browser shows a '<' that ends the file as text and drops a
// start tag the file cuts short; MyHTML turns the text before such a '<' into an element named
// after it, shows a cut tag name as text, and makes an element of a tag cut in its attributes.
// Its handling of a file that ends inside a quoted attribute value is right, so a cut tag is
// led there before the end; a final '<' in plain text goes in as its character reference.
mystatus_t parseToEnd(myhtml_tree_t* tree, std::string_view input)
{
    const MyHtmlTreeRules rules(tree);
    const bool endsInLessThan = !input.empty() && input.back() == '<';
    myhtml_encoding_set(tree, MyENCODING_UTF_8);
    mystatus_t status = myhtml_parse_chunk(tree, input.data(), input.size() - (endsInLessThan ? 1 : 0));
    if (status == MyHTML_STATUS_OK && endsInLessThan) {
        // In a tag's opening (after another '<') a character reference ends the tag the same way.
        const bool inText =
            tree->state == MyHTML_TOKENIZER_STATE_DATA || tree->state == MyHTML_TOKENIZER_STATE_TAG_OPEN;
        const std::string_view last = inText ? "&lt;" : "<";
        status = myhtml_parse_chunk(tree, last.data(), last.size());
    }
    std::string_view closing;
    switch (tree->state) {
    case MyHTML_TOKENIZER_STATE_TAG_NAME:
    case MyHTML_TOKENIZER_STATE_BEFORE_ATTRIBUTE_NAME:
    case MyHTML_TOKENIZER_STATE_ATTRIBUTE_NAME:
    case MyHTML_TOKENIZER_STATE_AFTER_ATTRIBUTE_NAME:
    case MyHTML_TOKENIZER_STATE_ATTRIBUTE_VALUE_UNQUOTED:
    case MyHTML_TOKENIZER_STATE_AFTER_ATTRIBUTE_VALUE_QUOTED:
    case MyHTML_TOKENIZER_STATE_SELF_CLOSING_START_TAG:
        closing = " a=\"";
        break;
    case MyHTML_TOKENIZER_STATE_BEFORE_ATTRIBUTE_VALUE:
        closing = "\"";
        break;
    default:
        break;
    }
    // The chunks stay in the tree's incoming buffers: these are string literals, so they outlive it.
    if (status == MyHTML_STATUS_OK && !closing.empty())
        status = myhtml_parse_chunk(tree, closing.data(), closing.size());
    const mystatus_t ended = myhtml_parse_chunk_end(tree);
    return status == MyHTML_STATUS_OK ? ended : status;
}

class MyHtmlParser final : public HtmlParser
{
public:
    MyHtmlParser() : m_engine(std::make_shared<MyHtmlEngine>()) {}

    Result<std::unique_ptr<HtmlDocument>> parse(const QByteArray& bytes) override
    {
        if (!m_engine->myhtml)
            return Failure{QStringLiteral("The HTML parser could not be started")};

        const std::string_view raw(bytes.constData(), std::size_t(bytes.size()));
        const HtmlEncoding::Detected detected = HtmlEncoding::detect(raw);
        const std::string_view content = raw.substr(detected.bomLength);

        // Everything is decoded to UTF-8 here, so no invalid sequence can reach the tree:
        // MyHTML's own legacy decoding was seen to let stray bytes through.
        std::optional<QByteArray> decoded = HtmlEncoding::toUtf8(content, detected);
        QByteArray converted = decoded ? std::move(*decoded) : bytes;
        const std::string_view input =
            decoded ? std::string_view(converted.constData(), std::size_t(converted.size())) : content;

        myhtml_tree_t* tree = m_engine->takeTree();
        if (!tree)
            return Failure{QStringLiteral("Out of memory (the document could not be created)")};
        const mystatus_t status = parseToEnd(tree, input);
        if (status != MyHTML_STATUS_OK) {
            m_engine->giveBack(tree);
            return Failure{QStringLiteral("The document could not be built (parser status %1)").arg(status)};
        }
        return std::unique_ptr<HtmlDocument>(std::make_unique<MyHtmlDocument>(m_engine, tree, std::move(converted)));
    }

private:
    std::shared_ptr<MyHtmlEngine> m_engine;
};

} // namespace

// Replaces MyHTML's own definition, which the library calls through its symbol table wherever it cuts
// the first characters off a text: the white space that opens a document's first text, the split of
// a text's leading white space into a text of its own (white space before the body goes to the
// head, the rest to the body), and the newline dropped after <pre>, <listing> and <textarea>. The
// library's version moves the start of the block forward by the bytes cut, but the string keeps the
// capacity it had, so a later text merged into it writes that many bytes past the block's end, over
// the next string (the white space given to the head, say). This one moves the bytes down and keeps
// the block where it was, so the capacity stays true.
extern "C" char* mchar_async_crop_first_chars_without_cache(char* data, size_t crop_len)
{
    if (data == nullptr)
        return nullptr;
    // The block's size stands just before it, not necessarily aligned.
    std::size_t capacity = 0;
    std::memcpy(&capacity, data - sizeof capacity, sizeof capacity);
    if (crop_len >= capacity) {
        if (capacity)
            data[0] = '\0';
        return data;
    }
    std::memmove(data, data + crop_len, capacity - crop_len);
    return data;
}

namespace {

std::atomic<void (*)()> parserOutOfMemory{nullptr};

// MyHTML uses what its allocation routines return without looking: a failed allocation becomes a write through a
// null pointer somewhere later. The failure is caught here instead, where it happens.
void* allocated(void* block, std::size_t size)
{
    if (block || size == 0)
        return block;
    if (void (*handler)() = parserOutOfMemory.load())
        handler();
    std::abort();
}

} // namespace

void SetParserOutOfMemoryHandler(void (*handler)())
{
    parserOutOfMemory.store(handler);
}

// The library's allocation routines, which it calls through its symbol table; they differ from its own only in
// what happens when memory runs out.
extern "C" void* mycore_malloc(size_t size)
{
    return allocated(std::malloc(size), size);
}

extern "C" void* mycore_realloc(void* block, size_t size)
{
    return allocated(std::realloc(block, size), size);
}

extern "C" void* mycore_calloc(size_t count, size_t size)
{
    return allocated(std::calloc(count, size), count * size);
}

std::unique_ptr<HtmlParser> createHtmlParser()
{
    return std::make_unique<MyHtmlParser>();
}
