// The scope checks over MyHTML's stack of open elements, and the routines that change the stack
// below its top: the program's own versions of MyHTML's, which take the place of its own (see
// MyHtmlTreeRules.cpp). Inside a MyHtmlTreeRules scope a deep stack is answered from its index.
// Only MyHTML calls them, so MyHtmlParser.cpp names them to have the linker take this file.

#include "MyHtmlTreeIndexes.h"

#include <myhtml/tag.h>

#include <cstring>

using namespace TreeRules;

namespace {

constexpr myhtml_tag_categories kScopes[] = {
    MyHTML_TAG_CATEGORIES_SCOPE,       MyHTML_TAG_CATEGORIES_SCOPE_LIST_ITEM, MyHTML_TAG_CATEGORIES_SCOPE_BUTTON,
    MyHTML_TAG_CATEGORIES_SCOPE_TABLE, MyHTML_TAG_CATEGORIES_SCOPE_SELECT,
};
static_assert(std::size(kScopes) == kScopeCount);

int scopeNumber(myhtml_tag_categories category)
{
    for (int s = 0; s < kScopeCount; ++s)
        if (kScopes[s] == category)
            return s;
    return -1;
}

unsigned categoriesOf(myhtml_tree_t* tree, const Node* node)
{
    const myhtml_tag_context_t* context = myhtml_tag_get_by_id(tree->tags, node->tag_id);
    return context && node->ns < MyHTML_NAMESPACE_LAST_ENTRY ? unsigned(context->cats[node->ns]) : 0u;
}

// Whether the element ends a search of the stack for an element in the given scope. The select
// scope is the other way round: everything but optgroup and option ends it.
bool endsScope(unsigned categories, myhtml_tag_categories scope)
{
    if (scope == MyHTML_TAG_CATEGORIES_SCOPE_SELECT)
        return (categories & scope) == 0;
    return (categories & scope) != 0;
}

bool matches(const Node* node, myhtml_tag_id_t tag, myhtml_namespace_t ns)
{
    return node->tag_id == tag && (ns == MyHTML_NAMESPACE_UNDEF || node->ns == ns);
}

// The rule as the standard words it: walk down from the current node until the target or an
// element that ends the scope.
Node* walkInScope(myhtml_tree_t* tree, myhtml_tag_id_t tag, myhtml_namespace_t ns, myhtml_tag_categories scope)
{
    Node** list = tree->open_elements->list;
    for (std::size_t i = tree->open_elements->length; i-- > 0;) {
        if (matches(list[i], tag, ns))
            return list[i];
        if (endsScope(categoriesOf(tree, list[i]), scope))
            break;
    }
    return nullptr;
}

bool walkNodeInScope(myhtml_tree_t* tree, const Node* node, myhtml_tag_categories scope)
{
    Node** list = tree->open_elements->list;
    for (std::size_t i = tree->open_elements->length; i-- > 0;) {
        if (list[i] == node)
            return true;
        if (endsScope(categoriesOf(tree, list[i]), scope))
            break;
    }
    return false;
}

} // namespace

namespace TreeRules {

Node* StackIndex::inScope(myhtml_tag_id_t tag, myhtml_namespace_t ns, int scope)
{
    sync();
    if (m_entries.empty())
        return nullptr;
    const std::int32_t top =
        ns == MyHTML_NAMESPACE_UNDEF ? lookUp(m_topByTag, tag) : lookUp(m_topByTagNs, key(tag, ns));
    if (top < 0 || top < m_entries.back().boundary[scope])
        return nullptr;
    return m_entries[std::size_t(top)].node;
}

bool StackIndex::nodeInScope(const Node* node, int scope)
{
    sync();
    if (m_entries.empty())
        return false;
    const std::int32_t boundary = std::max(m_entries.back().boundary[scope], 0);
    for (std::size_t i = m_entries.size(); i-- > std::size_t(boundary);)
        if (m_entries[i].node == node)
            return true;
    return false;
}

std::int32_t StackIndex::lookUp(const std::vector<std::int32_t>& tops, std::size_t key)
{
    return key < tops.size() ? tops[key] : -1;
}

std::int32_t& StackIndex::slot(std::vector<std::int32_t>& tops, std::size_t key)
{
    if (key >= tops.size())
        tops.resize(std::max(key + 1, tops.size() * 2), -1);
    return tops[key];
}

void StackIndex::sync()
{
    follow(
        *m_tree->open_elements, m_entries, m_floor, [this] { pop(); }, [this](Node* node) { push(node); });
}

void StackIndex::push(Node* node)
{
    const auto position = std::int32_t(m_entries.size());
    Entry entry{node, node->tag_id, std::size_t(node->ns) % MyHTML_NAMESPACE_LAST_ENTRY, -1, -1, {}};
    const unsigned categories = categoriesOf(m_tree, node);
    for (int s = 0; s < kScopeCount; ++s)
        entry.boundary[s] = endsScope(categories, kScopes[s]) ? position
                            : position > 0                    ? m_entries.back().boundary[s]
                                                              : -1;
    std::int32_t& top = slot(m_topByTag, entry.tag);
    entry.belowSameTag = top;
    top = position;
    std::int32_t& topNs = slot(m_topByTagNs, key(entry.tag, entry.ns));
    entry.belowSameTagNs = topNs;
    topNs = position;
    m_entries.push_back(entry);
}

void StackIndex::pop()
{
    const Entry& entry = m_entries.back();
    m_topByTag[entry.tag] = entry.belowSameTag;
    m_topByTagNs[key(entry.tag, entry.ns)] = entry.belowSameTagNs;
    m_entries.pop_back();
}

} // namespace TreeRules

extern "C" {

myhtml_tree_node_t* myhtml_tree_element_in_scope(myhtml_tree_t* tree, myhtml_tag_id_t tag_idx,
                                                 myhtml_namespace_t mynamespace, enum myhtml_tag_categories category)
{
    StackIndex* index = indexFor(tree);
    const int scope = scopeNumber(category);
    if (index == nullptr || scope < 0 || (tree->open_elements->length <= kShortStack && !g_verifying))
        return walkInScope(tree, tag_idx, mynamespace, category);
    Node* found = index->inScope(tag_idx, mynamespace, scope);
    if (g_verifying && found != walkInScope(tree, tag_idx, mynamespace, category))
        indexDisagrees("element in scope");
    return found;
}

bool myhtml_tree_element_in_scope_by_node(myhtml_tree_node_t* node, enum myhtml_tag_categories category)
{
    myhtml_tree_t* tree = node->tree;
    StackIndex* index = indexFor(tree);
    const int scope = scopeNumber(category);
    if (index == nullptr || scope < 0 || (tree->open_elements->length <= kShortStack && !g_verifying))
        return walkNodeInScope(tree, node, category);
    const bool found = index->nodeInScope(node, scope);
    if (g_verifying && found != walkNodeInScope(tree, node, category))
        indexDisagrees("node in scope");
    return found;
}

// An element is on the stack at most once, so searching from the top finds the same entry as the
// library's search from the bottom; the one sought (the last active formatting element, the
// adoption agency's nodes) is nearly always near the top.
bool myhtml_tree_open_elements_find(myhtml_tree_t* tree, myhtml_tree_node_t* node, size_t* pos)
{
    Node** list = tree->open_elements->list;
    for (std::size_t i = tree->open_elements->length; i-- > 0;) {
        if (list[i] == node) {
            if (pos)
                *pos = i;
            // The adoption agency replaces the entry below the one it found.
            if (StackIndex* index = indexFor(tree))
                index->touched(i);
            return true;
        }
    }
    return false;
}

void myhtml_tree_open_elements_remove(myhtml_tree_t* tree, myhtml_tree_node_t* node)
{
    Node** list = tree->open_elements->list;
    const std::size_t length = tree->open_elements->length;
    for (std::size_t i = length; i-- > 0;) {
        if (list[i] == node) {
            std::memmove(&list[i], &list[i + 1], sizeof(Node*) * (length - i - 1));
            tree->open_elements->length = length - 1;
            if (StackIndex* index = indexFor(tree))
                index->touched(i);
            return;
        }
    }
}

void myhtml_tree_open_elements_append_after_index(myhtml_tree_t* tree, myhtml_tree_node_t* node, size_t index)
{
    if (StackIndex* stackIndex = indexFor(tree))
        stackIndex->touched(index);
    myhtml_tree_list_append_after_index(tree->open_elements, node, index);
}

} // extern "C"
