#pragma once

// The indexes the tree rules keep beside MyHTML's stack of open elements and list of active
// formatting elements, shared by the rules' files: MyHtmlTreeRules.cpp makes them for the tree it
// names, MyHtmlScopeRules.cpp answers the scope checks from the one and MyHtmlFormattingRules.cpp
// the "Noah's ark" check from the other.
//
// The member functions declared inline here are defined in the one file that calls them
// (StackIndex's in MyHtmlScopeRules.cpp, FormattingIndex's in MyHtmlFormattingRules.cpp). Inline,
// so that the compiler may fold them into the routines there that MyHTML calls for every tag: in
// position-independent code, which Qt requires, it does not fold in an ordinary function with
// external linkage.

#include <myhtml/myhtml.h>
#include <myhtml/tree.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <utility>
#include <vector>

namespace TreeRules {

using Node = myhtml_tree_node_t;

// The scopes an element can be looked for in (kScopes in MyHtmlScopeRules.cpp).
constexpr int kScopeCount = 5;

// Up to this depth the walk down the stack is cheaper than keeping the index up to date, and an
// ordinary page never goes deeper; the index catches up lazily once a page does. When verifying,
// the index answers at every depth, so that every small test page checks it.
constexpr std::size_t kShortStack = 48;

// Set by MyHtmlTreeRules::setVerifying.
extern std::atomic<bool> g_verifying;

[[noreturn]] void indexDisagrees(const char* what);

// Brings an index in line with the list it follows: the entries above the highest one still in
// place, or above the floor below which a call reported a change, are dropped, and the list's new
// entries indexed.
template <typename Entry, typename Pop, typename Push>
void follow(const myhtml_tree_list_t& list, std::vector<Entry>& entries, std::size_t& floor, Pop pop, Push push)
{
    const std::size_t length = list.length;
    std::size_t same = std::min({entries.size(), length, floor});
    while (same > 0 && entries[same - 1].node != list.list[same - 1])
        --same;
    while (entries.size() > same)
        pop();
    for (std::size_t i = same; i < length; ++i)
        push(list.list[i]);
    floor = SIZE_MAX;
}

// What the scope checks need to know of the stack of open elements, kept so that each check costs
// a few look-ups instead of a walk down the stack. It follows the stack lazily: MyHTML pushes and
// pops by changing the stack's length, so before each answer the entries above the highest one
// still in place are dropped and the stack's new entries indexed. A change below the top (a
// removal, an insertion, an entry replaced by the adoption agency) is preceded by a call that
// finds or names its position, and those calls lower m_floor to just below it.
class StackIndex
{
public:
    explicit StackIndex(myhtml_tree_t* tree) : m_tree(tree) {}

    myhtml_tree_t* tree() const { return m_tree; }

    void touched(std::size_t position) { m_floor = std::min(m_floor, position == 0 ? 0 : position - 1); }

    inline Node* inScope(myhtml_tag_id_t tag, myhtml_namespace_t ns, int scope);
    inline bool nodeInScope(const Node* node, int scope);

private:
    struct Entry
    {
        Node* node;
        myhtml_tag_id_t tag;
        std::size_t ns;
        std::int32_t belowSameTag;          // the next entry down with the same tag name, or -1
        std::int32_t belowSameTagNs;        // the same, in the same namespace
        std::int32_t boundary[kScopeCount]; // the highest entry at or below this one that ends each scope
    };

    static std::size_t key(myhtml_tag_id_t tag, std::size_t ns) { return tag * MyHTML_NAMESPACE_LAST_ENTRY + ns; }
    static inline std::int32_t lookUp(const std::vector<std::int32_t>& tops, std::size_t key);
    static inline std::int32_t& slot(std::vector<std::int32_t>& tops, std::size_t key);
    inline void sync();
    inline void push(Node* node);
    inline void pop();

    myhtml_tree_t* m_tree;
    std::vector<Entry> m_entries;
    std::vector<std::int32_t> m_topByTag;
    std::vector<std::int32_t> m_topByTagNs;
    std::size_t m_floor = 0;
};

// What the "Noah's ark" check needs of the list of active formatting elements: for each entry the
// last marker at or below it, and the chain of entries with the same signature. Without it, each
// new formatting element is compared with every one since the last marker, which makes a page of
// formatting elements that all differ (<b id=1><b id=2>...) quadratic. It follows the list the way
// StackIndex follows the stack: lazily, with every change below the top marked by the call that
// names or finds its position.
class FormattingIndex
{
public:
    explicit FormattingIndex(myhtml_tree_t* tree) : m_tree(tree) {}

    void touched(std::size_t position) { m_floor = std::min(m_floor, position == 0 ? 0 : position - 1); }

    // The entries after the last marker alike to node: how many, and the earliest.
    inline std::pair<std::size_t, std::size_t> alikeAfterLastMarker(const Node* node);

private:
    struct Entry
    {
        Node* node;
        bool signed_;
        std::uint64_t signature;
        std::int32_t belowSameSignature;
        std::int32_t lastMarker;
    };

    inline void sync();
    inline void push(Node* node);
    inline void pop();

    myhtml_tree_t* m_tree;
    std::vector<Entry> m_entries;
    std::unordered_map<std::uint64_t, std::int32_t> m_topBySignature;
    std::size_t m_floor = 0;
};

struct Indexes
{
    myhtml_tree_t* tree;
    StackIndex stack;
    FormattingIndex formatting;
};

// The indexes of the tree a MyHtmlTreeRules on this thread names, if any.
extern constinit thread_local Indexes* t_indexes;

inline StackIndex* indexFor(const myhtml_tree_t* tree)
{
    return t_indexes && t_indexes->tree == tree ? &t_indexes->stack : nullptr;
}

inline FormattingIndex* formattingIndexFor(const myhtml_tree_t* tree)
{
    return t_indexes && t_indexes->tree == tree ? &t_indexes->formatting : nullptr;
}

} // namespace TreeRules
