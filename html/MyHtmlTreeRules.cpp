// The program's own versions of a few of MyHTML's tree-construction routines. The library calls
// each of them through its symbol table, so the definitions here take the place of its own in any
// program linked with this file; where the library's version is still wanted, dlsym(RTLD_NEXT)
// finds it. Outside a MyHtmlTreeRules scope every replacement behaves as the library's does.

#include "MyHtmlTreeRules.h"

#include <mycore/incoming.h>
#include <myencoding/encoding.h>
#include <myhtml/charef.h>
#include <myhtml/data_process.h>
#include <myhtml/myhtml.h>
#include <myhtml/tag.h>
#include <myhtml/token.h>
#include <myhtml/tree.h>

#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <utility>
#include <vector>

extern "C" void myhtml_insertion_fix_for_null_char_drop_all(myhtml_tree_t* tree, myhtml_token_node_t* token);

namespace {

using Node = myhtml_tree_node_t;

constexpr myhtml_tag_categories kScopes[] = {
    MyHTML_TAG_CATEGORIES_SCOPE,       MyHTML_TAG_CATEGORIES_SCOPE_LIST_ITEM, MyHTML_TAG_CATEGORIES_SCOPE_BUTTON,
    MyHTML_TAG_CATEGORIES_SCOPE_TABLE, MyHTML_TAG_CATEGORIES_SCOPE_SELECT,
};
constexpr int kScopeCount = int(std::size(kScopes));

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

std::atomic<bool> g_verifying{false};

[[noreturn]] void indexDisagrees(const char* what)
{
    std::fprintf(stderr, "MyHtmlTreeRules: the stack index disagrees with the stack (%s)\n", what);
    std::abort();
}

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

    Node* inScope(myhtml_tag_id_t tag, myhtml_namespace_t ns, int scope)
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

    bool nodeInScope(const Node* node, int scope)
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

    static std::int32_t lookUp(const std::vector<std::int32_t>& tops, std::size_t key)
    {
        return key < tops.size() ? tops[key] : -1;
    }

    static std::int32_t& slot(std::vector<std::int32_t>& tops, std::size_t key)
    {
        if (key >= tops.size())
            tops.resize(std::max(key + 1, tops.size() * 2), -1);
        return tops[key];
    }

    void sync()
    {
        follow(
            *m_tree->open_elements, m_entries, m_floor, [this] { pop(); }, [this](Node* node) { push(node); });
    }

    void push(Node* node)
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

    void pop()
    {
        const Entry& entry = m_entries.back();
        m_topByTag[entry.tag] = entry.belowSameTag;
        m_topByTagNs[key(entry.tag, entry.ns)] = entry.belowSameTagNs;
        m_entries.pop_back();
    }

    myhtml_tree_t* m_tree;
    std::vector<Entry> m_entries;
    std::vector<std::int32_t> m_topByTag;
    std::vector<std::int32_t> m_topByTagNs;
    std::size_t m_floor = 0;
};

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
    std::pair<std::size_t, std::size_t> alikeAfterLastMarker(const Node* node)
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

private:
    struct Entry
    {
        Node* node;
        bool signed_;
        std::uint64_t signature;
        std::int32_t belowSameSignature;
        std::int32_t lastMarker;
    };

    void sync()
    {
        follow(
            *m_tree->active_formatting, m_entries, m_floor, [this] { pop(); }, [this](Node* node) { push(node); });
    }

    void push(Node* node)
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

    void pop()
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

    myhtml_tree_t* m_tree;
    std::vector<Entry> m_entries;
    std::unordered_map<std::uint64_t, std::int32_t> m_topBySignature;
    std::size_t m_floor = 0;
};

// Up to this depth the walk down the stack is cheaper than keeping the index up to date, and an
// ordinary page never goes deeper; the index catches up lazily once a page does. When verifying,
// the index answers at every depth, so that every small test page checks it.
constexpr std::size_t kShortStack = 48;

struct Indexes
{
    myhtml_tree_t* tree;
    StackIndex stack;
    FormattingIndex formatting;
};

thread_local Indexes* t_indexes = nullptr;
thread_local bool t_insertingText = false;

StackIndex* indexFor(const myhtml_tree_t* tree)
{
    return t_indexes && t_indexes->tree == tree ? &t_indexes->stack : nullptr;
}

FormattingIndex* formattingIndexFor(const myhtml_tree_t* tree)
{
    return t_indexes && t_indexes->tree == tree ? &t_indexes->formatting : nullptr;
}

template <typename Function> Function libraryVersion(const char* name)
{
    void* function = dlsym(RTLD_NEXT, name);
    if (function == nullptr) {
        std::fprintf(stderr, "MyHtmlTreeRules: MyHTML's %s was not found\n", name);
        std::abort();
    }
    return reinterpret_cast<Function>(function);
}

bool isAsciiWhiteSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

} // namespace

struct MyHtmlTreeRules::State
{
    Indexes indexes;
    Indexes* previous;
};

MyHtmlTreeRules::MyHtmlTreeRules(myhtml_tree* tree)
    : m_state(std::make_unique<State>(State{{tree, StackIndex(tree), FormattingIndex(tree)}, t_indexes}))
{
    t_indexes = &m_state->indexes;
}

MyHtmlTreeRules::~MyHtmlTreeRules()
{
    t_indexes = m_state->previous;
}

void MyHtmlTreeRules::setVerifying(bool verifying)
{
    g_verifying = verifying;
}

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

// Past the maximum depth a new element or comment goes to the current node's parent, as in
// Chromium and WebKit; text still goes into the current node, and foster parenting and the
// adoption agency's moves are left as they are, as there.
myhtml_tree_node_t* myhtml_tree_appropriate_place_inserting(myhtml_tree_t* tree, myhtml_tree_node_t* override_target,
                                                            enum myhtml_tree_insertion_mode* mode)
{
    using Function = Node* (*)(myhtml_tree_t*, Node*, enum myhtml_tree_insertion_mode*);
    static const auto library = libraryVersion<Function>("myhtml_tree_appropriate_place_inserting");
    Node* place = library(tree, override_target, mode);
    const std::size_t depth = tree->open_elements->length;
    if (override_target == nullptr && !t_insertingText && depth > MyHtmlTreeRules::kMaximumDepth &&
        *mode == MyHTML_TREE_INSERTION_MODE_DEFAULT && indexFor(tree) &&
        place == tree->open_elements->list[depth - 1] && place->parent)
        return place->parent;
    return place;
}

myhtml_tree_node_t* myhtml_tree_node_insert_text(myhtml_tree_t* tree, myhtml_token_node_t* token)
{
    using Function = Node* (*)(myhtml_tree_t*, myhtml_token_node_t*);
    static const auto library = libraryVersion<Function>("myhtml_tree_node_insert_text");
    t_insertingText = true;
    Node* node = library(tree, token);
    t_insertingText = false;
    return node;
}

// Text outside raw-text elements, tables' text and selects loses its NUL characters (the tree
// builder ignores them there). The library's loop moves the text wrongly after a run of two or
// more, leaving stray bytes; and text left with nothing but white space counts as white space, so
// that a NUL alone does not end the chance of a frameset.
void myhtml_insertion_fix_for_null_char_drop_all(myhtml_tree_t* tree, myhtml_token_node_t* token)
{
    myhtml_token_node_wait_for_done(tree->token, token);
    mycore_string_t& text = token->str;
    std::size_t kept = 0;
    bool onlyWhiteSpace = true;
    for (std::size_t i = 0; i < text.length; ++i) {
        const char c = text.data[i];
        if (c == '\0')
            continue;
        text.data[kept++] = c;
        onlyWhiteSpace = onlyWhiteSpace && isAsciiWhiteSpace(c);
    }
    if (kept < text.length) {
        text.data[kept] = '\0';
        text.length = kept;
    }
    if (onlyWhiteSpace)
        token->type = myhtml_token_type(token->type | MyHTML_TOKEN_TYPE_WHITESPACE);
}

} // extern "C"

namespace {

// The end of a text or attribute value that stops inside a named reference with no semicolon, such as "x&noti" or
// title="&copys". The library writes the longest reference it matched and drops the letters it read past that name.
// A browser keeps them: in text the reference is decoded and the letters follow ("x¬i"); in an attribute value a
// reference followed by a letter, a digit or '=' stays as written ("&copys"), while one that ends the value is
// decoded.
void finishCharacterReferences(myhtml_data_process_entry_t* entry, mycore_string_t* str)
{
    const bool insideName =
        entry->state == myhtml_data_process_state_ampersand_data && entry->charef_res.last_entry != nullptr;
    if (!insideName || entry->tmp_str_pos + 2 > str->length) {
        myhtml_data_process_end(entry, str);
        return;
    }
    // The letters after the '&', matched again from the start to find where the longest reference name ends.
    const char* name = str->data + entry->tmp_str_pos + 1;
    const std::size_t letters = str->length - entry->tmp_str_pos - 1;
    charef_entry_result_t match{};
    match.curr_entry = myhtml_charef_get_first_position(name[0]);
    std::size_t offset = 1;
    if (match.curr_entry->ch != '\0' && letters > 1)
        myhtml_charef_find_by_pos(match.curr_entry->next, name, &offset, letters, &match);
    const charef_entry_t* found = match.last_entry;
    const std::size_t matched = found ? match.last_offset : 0;
    if (!found || matched == 0 || matched > letters || (entry->is_attributes && matched < letters)) {
        entry->state = myhtml_data_process_state_data;
        return;
    }
    char decoded[16];
    std::size_t decodedBytes = 0;
    for (std::size_t i = 0; i < found->codepoints_len && i < 2; ++i)
        decodedBytes += myencoding_codepoint_to_ascii_utf_8(found->codepoints[i], decoded + decodedBytes);
    const std::size_t rest = letters - matched;
    const std::size_t length = entry->tmp_str_pos + decodedBytes + rest;
    if (length + 1 > str->size)
        mycore_string_realloc(str, length + 1);
    char* at = str->data + entry->tmp_str_pos;
    std::memmove(at + decodedBytes, at + 1 + matched, rest);
    std::memcpy(at, decoded, decodedBytes);
    str->length = length;
    str->data[length] = '\0';
    entry->state = myhtml_data_process_state_data;
}

} // namespace

extern "C" {

// The text of a token, or an attribute's value, with its character references decoded. Its raw
// bytes may lie across two of the chunks the parser was fed (the program feeds a file's last '<'
// and the end of a cut tag as chunks of their own). The library decodes each piece on its own, and
// when a named reference that runs across the border ends on a shorter name found in the earlier
// piece (&noti + &lt; is &not followed by i<), it goes on from that name's end counted in the
// earlier piece, but reads the later one there: past its end, and losing what followed the name.
// Joined first, the bytes are decoded as one piece, the way text in a single chunk is.
size_t myhtml_parser_token_data_to_string_charef(myhtml_tree_t* tree, mycore_string_t* str,
                                                 myhtml_data_process_entry_t* proc_entry, size_t begin, size_t length)
{
    mycore_incoming_buffer_t* buffer = mycore_incoming_buffer_find_by_position(tree->incoming_buf_first, begin);
    std::size_t relative = begin - buffer->offset;
    if (relative + length <= buffer->size) {
        myhtml_data_process(proc_entry, str, buffer->data + relative, length);
    } else {
        std::string joined;
        joined.reserve(length);
        for (; buffer && joined.size() < length; buffer = buffer->next, relative = 0)
            joined.append(buffer->data + relative, std::min(buffer->size - relative, length - joined.size()));
        myhtml_data_process(proc_entry, str, joined.data(), joined.size());
    }
    finishCharacterReferences(proc_entry, str);
    return str->length;
}

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

// The adoption agency inserts into both lists through this.
void myhtml_tree_list_insert_by_index(myhtml_tree_list_t* list, myhtml_tree_node_t* node, size_t index)
{
    using Function = void (*)(myhtml_tree_list_t*, Node*, size_t);
    static const auto library = libraryVersion<Function>("myhtml_tree_list_insert_by_index");
    if (t_indexes && list == t_indexes->tree->active_formatting)
        t_indexes->formatting.touched(index);
    if (t_indexes && list == t_indexes->tree->open_elements)
        t_indexes->stack.touched(index);
    library(list, node, index);
}

} // extern "C"
