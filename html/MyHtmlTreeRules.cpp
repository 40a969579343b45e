// The program's own versions of a few of MyHTML's tree-construction routines. The library calls
// each of them through its symbol table, so the definitions take the place of its own in any
// program linked with them; where the library's version is still wanted, dlsym(RTLD_NEXT) finds
// it. On Windows MyHTML is a static library built with its own definitions of these routines
// renamed NAME_myhtml (cmake/windows/MyHtmlFromSource.cmake), which is how the library's version
// is reached there. Outside a MyHtmlTreeRules scope every replacement behaves as the library's does.
//
// This file holds the scope itself, with the indexes it makes (MyHtmlTreeIndexes.h), the bound on
// the tree's depth, and the insertion both indexes follow. The scope checks are in
// MyHtmlScopeRules.cpp, the "Noah's ark" check in MyHtmlFormattingRules.cpp, the handling of NUL
// characters and character references in MyHtmlTextRules.cpp; MyHtmlParser.cpp names every
// replacement so that each of these files is linked.

#include "MyHtmlTreeRules.h"

#include "MyHtmlTreeIndexes.h"

#ifndef _WIN32
#include <dlfcn.h>
#endif

#include <cstdio>
#include <cstdlib>

using namespace TreeRules;

namespace TreeRules {

std::atomic<bool> g_verifying{false};

constinit thread_local Indexes* t_indexes = nullptr;

[[noreturn]] void indexDisagrees(const char* what)
{
    std::fprintf(stderr, "MyHtmlTreeRules: the stack index disagrees with the stack (%s)\n", what);
    std::abort();
}

} // namespace TreeRules

namespace {

thread_local bool t_insertingText = false;

#ifdef _WIN32
} // namespace

extern "C" {
myhtml_tree_node_t* myhtml_tree_appropriate_place_inserting_myhtml(myhtml_tree_t*, myhtml_tree_node_t*,
                                                                   enum myhtml_tree_insertion_mode*);
myhtml_tree_node_t* myhtml_tree_node_insert_text_myhtml(myhtml_tree_t*, myhtml_token_node_t*);
void myhtml_tree_list_insert_by_index_myhtml(myhtml_tree_list_t*, myhtml_tree_node_t*, size_t);
}

namespace {

#define QUILLORY_LIBRARY_VERSION(Function, name) (&name##_myhtml)
#else
template <typename Function> Function libraryVersion(const char* name)
{
    void* function = dlsym(RTLD_NEXT, name);
    if (function == nullptr) {
        std::fprintf(stderr, "MyHtmlTreeRules: MyHTML's %s was not found\n", name);
        std::abort();
    }
    return reinterpret_cast<Function>(function);
}

#define QUILLORY_LIBRARY_VERSION(Function, name) libraryVersion<Function>(#name)
#endif

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

// Past the maximum depth a new element or comment goes to the current node's parent, as in
// Chromium and WebKit; text still goes into the current node, and foster parenting and the
// adoption agency's moves are left as they are, as there.
myhtml_tree_node_t* myhtml_tree_appropriate_place_inserting(myhtml_tree_t* tree, myhtml_tree_node_t* override_target,
                                                            enum myhtml_tree_insertion_mode* mode)
{
    using Function = Node* (*)(myhtml_tree_t*, Node*, enum myhtml_tree_insertion_mode*);
    static const auto library = QUILLORY_LIBRARY_VERSION(Function, myhtml_tree_appropriate_place_inserting);
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
    static const auto library = QUILLORY_LIBRARY_VERSION(Function, myhtml_tree_node_insert_text);
    t_insertingText = true;
    Node* node = library(tree, token);
    t_insertingText = false;
    return node;
}

// The adoption agency inserts into both lists through this.
void myhtml_tree_list_insert_by_index(myhtml_tree_list_t* list, myhtml_tree_node_t* node, size_t index)
{
    using Function = void (*)(myhtml_tree_list_t*, Node*, size_t);
    static const auto library = QUILLORY_LIBRARY_VERSION(Function, myhtml_tree_list_insert_by_index);
    if (t_indexes && list == t_indexes->tree->active_formatting)
        t_indexes->formatting.touched(index);
    if (t_indexes && list == t_indexes->tree->open_elements)
        t_indexes->stack.touched(index);
    library(list, node, index);
}

} // extern "C"
