// MyHTML's list of active formatting elements: the "Noah's ark" check that keeps at most three
// alike formatting elements since the last marker, and the routines that change the list below its
// top. The program's own versions of MyHTML's, which take the place of its own (see
// MyHtmlTreeRules.cpp). Inside a MyHtmlTreeRules scope a long list is answered from its index.
// Only MyHTML calls them, so MyHtmlParser.cpp names them to have the linker take this file.

#include "MyHtmlTreeIndexes.h"

#include <cstring>
#include <string_view>
#include <tuple>

using namespace TreeRules;

namespace {

// Whether the entry of the list of active formatting elements is a marker, as MyHTML decides it.
bool isMarker(myhtml_tree_t* tree, const Node* node)
{
    if (node == tree->myhtml->marker)
        return true;
    switch (node->tag_id) {
    case MyHTML_TAG_APPLET:
    case MyHTML_TAG_BUTTON:
    case MyHTML_TAG_OBJECT:
    case MyHTML_TAG_MARQUEE:
    case MyHTML_TAG_TD:
    case MyHTML_TAG_TH:
    case MyHTML_TAG_CAPTION:
        return true;
    default:
        return false;
    }
}

// Two formatting elements are alike when their tag, namespace and attributes are: the same names
// with the same values, in any order. That is what the "Noah's ark" check counts (MyHTML's own
// check compared values without regard to case, and in order). Alike elements have the same
// signature, the attributes' hashes being summed.
std::string_view keyOf(const myhtml_token_attr_t* attr)
{
    return {attr->key.data ? attr->key.data : "", attr->key.length};
}

std::string_view valueOf(const myhtml_token_attr_t* attr)
{
    return {attr->value.data ? attr->value.data : "", attr->value.length};
}

std::uint64_t hashOf(std::string_view text, std::uint64_t hash)
{
    for (const char c : text)
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
    return hash;
}

std::uint64_t signatureOf(const Node* node)
{
    std::uint64_t attributes = 0;
    std::uint64_t count = 0;
    for (const myhtml_token_attr_t* attr = node->token->attr_first; attr; attr = attr->next) {
        attributes += hashOf(valueOf(attr), hashOf(keyOf(attr), 1469598103934665603ULL + attr->ns) ^ 0xFF);
        ++count;
    }
    return hashOf(std::string_view(reinterpret_cast<const char*>(&attributes), sizeof attributes),
                  (std::uint64_t(node->tag_id) << 8 | node->ns) * 1099511628211ULL + count);
}

using AttributeList = std::vector<std::tuple<std::string_view, std::string_view, unsigned>>;

AttributeList sortedAttributes(const Node* node)
{
    AttributeList list;
    for (const myhtml_token_attr_t* attr = node->token->attr_first; attr; attr = attr->next)
        list.emplace_back(keyOf(attr), valueOf(attr), unsigned(attr->ns));
    std::sort(list.begin(), list.end());
    return list;
}

std::size_t occurrences(const Node* node, const myhtml_token_attr_t* attribute)
{
    std::size_t count = 0;
    for (const myhtml_token_attr_t* attr = node->token->attr_first; attr; attr = attr->next)
        count += attr->ns == attribute->ns && keyOf(attr) == keyOf(attribute) && valueOf(attr) == valueOf(attribute);
    return count;
}

bool alike(const Node* entry, const Node* node)
{
    if (!entry->token || !node->token || entry->ns != node->ns || entry->tag_id != node->tag_id)
        return false;
    std::size_t entryCount = 0, nodeCount = 0;
    for (const myhtml_token_attr_t* attr = entry->token->attr_first; attr; attr = attr->next)
        ++entryCount;
    for (const myhtml_token_attr_t* attr = node->token->attr_first; attr; attr = attr->next)
        ++nodeCount;
    if (entryCount != nodeCount)
        return false;
    // The same multiset of attributes: counted in place for the usual handful, sorted past that.
    if (entryCount <= 8) {
        for (const myhtml_token_attr_t* attr = entry->token->attr_first; attr; attr = attr->next)
            if (occurrences(entry, attr) != occurrences(node, attr))
                return false;
        return true;
    }
    return sortedAttributes(entry) == sortedAttributes(node);
}

} // namespace

namespace TreeRules {

std::pair<std::size_t, std::size_t> FormattingIndex::alikeAfterLastMarker(const Node* node)
{
    sync();
    std::size_t count = 0, earliest = 0;
    if (m_entries.empty() || node->token == nullptr)
        return {0, 0};
    const std::int32_t marker = m_entries.back().lastMarker;
    const auto found = m_topBySignature.find(signatureOf(node));
    for (std::int32_t j = found == m_topBySignature.end() ? -1 : found->second; j > marker;
         j = m_entries[std::size_t(j)].belowSameSignature) {
        if (alike(m_entries[std::size_t(j)].node, node)) {
            ++count;
            earliest = std::size_t(j);
        }
    }
    return {count, earliest};
}

void FormattingIndex::sync()
{
    follow(
        *m_tree->active_formatting, m_entries, m_floor, [this] { pop(); }, [this](Node* node) { push(node); });
}

void FormattingIndex::push(Node* node)
{
    const auto position = std::int32_t(m_entries.size());
    Entry entry{node, false, 0, -1, m_entries.empty() ? -1 : m_entries.back().lastMarker};
    if (isMarker(m_tree, node)) {
        entry.lastMarker = position;
    } else if (node->token) {
        entry.signed_ = true;
        entry.signature = signatureOf(node);
        std::int32_t& top = m_topBySignature.try_emplace(entry.signature, -1).first->second;
        entry.belowSameSignature = top;
        top = position;
    }
    m_entries.push_back(entry);
}

void FormattingIndex::pop()
{
    const Entry& entry = m_entries.back();
    if (entry.signed_) {
        if (entry.belowSameSignature < 0)
            m_topBySignature.erase(entry.signature);
        else
            m_topBySignature[entry.signature] = entry.belowSameSignature;
    }
    m_entries.pop_back();
}

} // namespace TreeRules

extern "C" {

// The "Noah's ark" check: a fourth formatting element alike to three since the last marker pushes
// the earliest of them out of the list.
void myhtml_tree_active_formatting_append_with_check(myhtml_tree_t* tree, myhtml_tree_node_t* node)
{
    std::size_t count = 0, earliest = 0;
    FormattingIndex* index = formattingIndexFor(tree);
    // A short list is walked, as a shallow stack is.
    if (index && !g_verifying && tree->active_formatting->length <= kShortStack)
        index = nullptr;
    if (index && node->token) {
        std::tie(count, earliest) = index->alikeAfterLastMarker(node);
    }
    if (g_verifying || index == nullptr) {
        std::size_t walkedCount = 0, walkedEarliest = 0;
        Node** list = tree->active_formatting->list;
        for (std::size_t i = tree->active_formatting->length; i-- > 0;) {
            if (isMarker(tree, list[i]))
                break;
            if (node->token && alike(list[i], node)) {
                ++walkedCount;
                walkedEarliest = i;
            }
        }
        if (index && (walkedCount != count || (count && walkedEarliest != earliest)))
            indexDisagrees("formatting elements alike");
        count = walkedCount;
        earliest = walkedEarliest;
    }
    if (count >= 3)
        myhtml_tree_active_formatting_remove_by_index(tree, earliest);
    myhtml_tree_active_formatting_append(tree, node);
}

bool myhtml_tree_active_formatting_find(myhtml_tree_t* tree, myhtml_tree_node_t* node, size_t* return_idx)
{
    Node** list = tree->active_formatting->list;
    for (std::size_t i = tree->active_formatting->length; i-- > 0;) {
        if (list[i] == node) {
            if (return_idx)
                *return_idx = i;
            // The adoption agency replaces the entry it found.
            if (FormattingIndex* index = formattingIndexFor(tree))
                index->touched(i);
            return true;
        }
    }
    return false;
}

void myhtml_tree_active_formatting_remove(myhtml_tree_t* tree, myhtml_tree_node_t* node)
{
    Node** list = tree->active_formatting->list;
    const std::size_t length = tree->active_formatting->length;
    for (std::size_t i = length; i-- > 0;) {
        if (list[i] == node) {
            std::memmove(&list[i], &list[i + 1], sizeof(Node*) * (length - i - 1));
            tree->active_formatting->length = length - 1;
            if (FormattingIndex* index = formattingIndexFor(tree))
                index->touched(i);
            return;
        }
    }
}

void myhtml_tree_active_formatting_remove_by_index(myhtml_tree_t* tree, size_t idx)
{
    Node** list = tree->active_formatting->list;
    const std::size_t length = tree->active_formatting->length;
    std::memmove(&list[idx], &list[idx + 1], sizeof(Node*) * (length - idx - 1));
    tree->active_formatting->length = length - 1;
    if (FormattingIndex* index = formattingIndexFor(tree))
        index->touched(idx);
}

} // extern "C"
