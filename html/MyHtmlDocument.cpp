// The document model over MyHTML: its elements numbered in document order, and their names.

#include "MyHtmlDocument.h"

#include <algorithm>

using namespace MyHtmlNodes;

namespace {

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

} // namespace

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
