#pragma once

#include <cstddef>
#include <memory>

struct myhtml_tree;

// While one of these lives on a thread, the tree it names is built with the program's own versions
// of a few of MyHTML's tree-construction routines (defined in MyHtmlTreeRules.cpp and the files it
// names, where MyHTML calls them through its symbol table):
// - the scope checks over the stack of open elements answer from an index kept beside the stack
//   instead of walking it, so a page nested a million deep parses in linear time;
// - the check for three alike formatting elements since the last marker answers from an index of
//   the list of active formatting elements, so a page of formatting elements that all differ is
//   linear too, and compares attributes as browsers do (exact values, in any order);
// - past a depth of kMaximumDepth open elements, a new element or comment is attached to the
//   current node's parent instead of the current node, as Chromium and WebKit do, so the tree's
//   depth stays bounded;
// - NUL characters dropped from text are dropped exactly, where MyHTML's loop garbles runs of them.
// Always, with or without one of these:
// - text that lies across two of the chunks the parser is fed has its character references decoded
//   as if it had come in one, where MyHTML reads past the end of the later chunk.
class MyHtmlTreeRules
{
public:
    static constexpr std::size_t kMaximumDepth = 512;

    explicit MyHtmlTreeRules(myhtml_tree* tree);
    ~MyHtmlTreeRules();
    MyHtmlTreeRules(const MyHtmlTreeRules&) = delete;
    MyHtmlTreeRules& operator=(const MyHtmlTreeRules&) = delete;

    // Every answer of the indexes is also worked out by walking the list it indexes, and a
    // difference aborts: for the tests and the fuzzer, which check the indexes on every input.
    static void setVerifying(bool verifying);

private:
    struct State;
    std::unique_ptr<State> m_state;
};
