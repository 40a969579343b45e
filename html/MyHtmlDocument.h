#pragma once

// The document model over MyHTML: the parts shared by the files that parse into it
// (MyHtmlParser.cpp), number its elements (MyHtmlDocument.cpp) and serialise them
// (MyHtmlSerialisers.cpp).

#include "HtmlDocument.h"

#include <myhtml/myhtml.h>
#include <myhtml/tree.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// What the document's files ask of MyHTML's nodes.
namespace MyHtmlNodes {

using Node = myhtml_tree_node_t;

inline bool isElement(const Node* node)
{
    const myhtml_tag_id_t tag = node->tag_id;
    return tag > MyHTML_TAG__DOCTYPE && tag != MyHTML_TAG__END_OF_FILE;
}

inline bool isHtml(const Node* node, myhtml_tag_id_t tag)
{
    return node->tag_id == tag && node->ns == MyHTML_NAMESPACE_HTML;
}

// Elements a browser does not render: their innerText is their text, unchanged.
inline bool isUnrendered(const Node* node)
{
    return isHtml(node, MyHTML_TAG_SCRIPT) || isHtml(node, MyHTML_TAG_STYLE) || isHtml(node, MyHTML_TAG_TEMPLATE);
}

// The node after node in document order among root's descendants, or null at the end. The
// walk goes below node only when descend is true. No recursion, so no depth exhausts the stack.
inline Node* nextInside(Node* root, Node* node, bool descend)
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

} // namespace MyHtmlNodes

// The MyHTML instance of one parser, with one tree kept for reuse: a cleaned tree keeps its
// memory pools, which makes parsing many files about twice as fast as a new tree per file.
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
    using Node = MyHtmlNodes::Node;

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

    // The name of one of this document's elements, as a browser spells it; defined here, as the serialisers ask
    // it for every tag they write.
    std::string_view nameOf(Node* node) const
    {
        const std::vector<std::string_view>& names = node->ns == MyHTML_NAMESPACE_HTML ? m_htmlNames : m_foreignNames;
        return node->tag_id < names.size() ? names[node->tag_id] : std::string_view("unknown");
    }

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
    void learnName(Node* node);
    void learnNamesBelow(Node* root);

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
