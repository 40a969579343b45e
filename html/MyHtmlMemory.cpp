// MyHTML's memory routines, replaced: the library calls each of them through its symbol table, so
// the definitions here take the place of its own in any program linked with this file.
// Only MyHTML calls them, so MyHtmlParser.cpp names them to have the linker take this file.

#include "HtmlDocument.h"

#include <mycore/utils/mchar_async.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <malloc.h>

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

// Replaces MyHTML's definition, which its strings grow through. A block that is not the last of its chunk cannot grow
// where it is and moves to a new one. The library's version asks for exactly the length needed, so a text that grows
// piece by piece (each text after a stray end tag is appended to the text before it) moves and copies all of itself
// for every piece and leaves behind a block one piece too small for any later need: a page of "word </span>" repeated
// takes memory and time growing with the square of its length. A block that moves here takes twice what it held, so
// a text moves only each time it doubles, and the blocks it leaves behind add up to less than it holds.
extern "C" char* mchar_async_realloc(mchar_async_t* mchar_async, size_t node_idx, char* data, size_t data_len,
                                     size_t new_size)
{
    if (data == nullptr)
        return nullptr;
    std::size_t capacity = 0;
    std::memcpy(&capacity, data - sizeof capacity, sizeof capacity);
    if (capacity >= new_size)
        return data;
    mchar_async_node_t* node = &mchar_async->nodes[node_idx];
    mchar_async_chunk_t* chunk = node->chunk;
    // The last block of the chunk being filled grows where it is while the chunk has room.
    if (chunk->length >= capacity && chunk->begin + (chunk->length - capacity) == data) {
        const std::size_t end = chunk->length - capacity + new_size;
        if (end <= chunk->size) {
            std::memcpy(data - sizeof new_size, &new_size, sizeof new_size);
            chunk->length = end;
            return data;
        }
    }
    char* moved = mchar_async_malloc(mchar_async, node_idx, std::max(new_size, 2 * capacity));
    if (moved == nullptr)
        return nullptr;
    std::memcpy(moved, data, data_len);
    mchar_async_cache_add(&node->cache, data, capacity);
    return moved;
}

namespace {

// The blocks MyHTML gives back wait in a cache for the next string they can hold. The library keeps them in a list
// sorted by size (a binary tree that only ever grows to the right) and walks it from the smallest on every
// allocation: blocks too small for anything a page asks for (a chunk's last few bytes, say) gather at its head, and
// a page of many attributes, each key and value a string of its own, walks past more of them for every one it
// reads. Here they are a treap ordered by size (the slot breaking ties), each slot's priority a hash of its number,
// so a search takes a number of steps that grows with the logarithm of the blocks held. The nodes live in the
// cache's own array, in the library's layout, so that its other routines (making, cleaning and freeing the cache)
// serve unchanged.
using CacheNode = mchar_async_cache_node_t;

std::uint64_t priority(std::size_t slot)
{
    std::uint64_t x = slot + 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

bool orderedBefore(const CacheNode* nodes, std::size_t a, std::size_t b)
{
    return nodes[a].size < nodes[b].size || (nodes[a].size == nodes[b].size && a < b);
}

void replaceChild(mchar_async_cache_t* cache, std::size_t parent, std::size_t child, std::size_t by)
{
    CacheNode* nodes = cache->nodes;
    if (parent == 0)
        cache->nodes_root = by;
    else if (nodes[parent].left == child)
        nodes[parent].left = by;
    else
        nodes[parent].right = by;
    if (by != 0)
        nodes[by].parent = parent;
}

// Turns the tree so that slot takes its parent's place, the parent becoming its child.
void rotateUp(mchar_async_cache_t* cache, std::size_t slot)
{
    CacheNode* nodes = cache->nodes;
    const std::size_t parent = nodes[slot].parent;
    replaceChild(cache, nodes[parent].parent, parent, slot);
    if (nodes[parent].left == slot) {
        nodes[parent].left = nodes[slot].right;
        if (nodes[slot].right != 0)
            nodes[nodes[slot].right].parent = parent;
        nodes[slot].right = parent;
    } else {
        nodes[parent].right = nodes[slot].left;
        if (nodes[slot].left != 0)
            nodes[nodes[slot].left].parent = parent;
        nodes[slot].left = parent;
    }
    nodes[parent].parent = slot;
}

// A free slot of the cache's array, as the library's mchar_async_cache_malloc gives one: the last given back, else
// the next never used.
std::size_t takeSlot(mchar_async_cache_t* cache)
{
    if (cache->index_length != 0)
        return cache->index[--cache->index_length];
    if (cache->nodes_length + 1 >= cache->nodes_size) {
        cache->nodes_size *= 2;
        cache->nodes = static_cast<CacheNode*>(mycore_realloc(cache->nodes, sizeof(CacheNode) * cache->nodes_size));
    }
    return cache->nodes_length++;
}

void giveBackSlot(mchar_async_cache_t* cache, std::size_t slot)
{
    cache->index[cache->index_length++] = slot;
    if (cache->index_length >= cache->index_size) {
        cache->index_size *= 2;
        cache->index = static_cast<std::size_t*>(mycore_realloc(cache->index, sizeof(std::size_t) * cache->index_size));
    }
}

} // namespace

// Replace MyHTML's definitions (see above). A search gives the smallest block that holds the size asked for, as the
// library's does; its slot stays readable until the next block is added.
extern "C" void mchar_async_cache_add(mchar_async_cache_t* cache, void* value, size_t size)
{
    const std::size_t slot = takeSlot(cache);
    CacheNode* nodes = cache->nodes;
    nodes[slot] = CacheNode{value, size, 0, 0, 0};
    ++cache->count;
    if (cache->nodes_root == 0) {
        cache->nodes_root = slot;
        return;
    }
    std::size_t at = cache->nodes_root;
    for (;;) {
        std::size_t& next = orderedBefore(nodes, slot, at) ? nodes[at].left : nodes[at].right;
        if (next == 0) {
            next = slot;
            nodes[slot].parent = at;
            break;
        }
        at = next;
    }
    while (nodes[slot].parent != 0 && priority(slot) < priority(nodes[slot].parent))
        rotateUp(cache, slot);
}

extern "C" size_t mchar_async_cache_delete(mchar_async_cache_t* cache, size_t size)
{
    CacheNode* nodes = cache->nodes;
    std::size_t found = 0;
    for (std::size_t at = cache->nodes_root; at != 0;) {
        if (nodes[at].size >= size) {
            found = at;
            at = nodes[at].left;
        } else {
            at = nodes[at].right;
        }
    }
    if (found == 0)
        return 0;
    // Turned down below the child of higher priority until it has at most one child, which takes its place.
    while (nodes[found].left != 0 && nodes[found].right != 0) {
        const std::size_t left = nodes[found].left, right = nodes[found].right;
        rotateUp(cache, priority(left) < priority(right) ? left : right);
    }
    replaceChild(cache, nodes[found].parent, found, nodes[found].left != 0 ? nodes[found].left : nodes[found].right);
    giveBackSlot(cache, found);
    --cache->count;
    return found;
}

namespace {

std::atomic<void (*)()> parserOutOfMemory{nullptr};

// The parser's own limit, the bytes its blocks hold now, and the most they have held since TakeParserMemoryPeak was
// last called; 0: no limit, and nothing counted.
std::size_t memoryLimit = 0;
std::atomic<std::size_t> memoryHeld{0};
std::atomic<std::size_t> memoryPeak{0};

std::size_t blockSize(void* block)
{
#ifdef _WIN32
    return ::_msize(block);
#else
    return ::malloc_usable_size(block);
#endif
}

[[noreturn]] void outOfMemory()
{
    if (void (*handler)() = parserOutOfMemory.load())
        handler();
    std::abort();
}

// MyHTML uses what its allocation routines return without looking: a failed allocation becomes a write through a
// null pointer somewhere later. The failure is caught here instead, where it happens.
void* allocated(void* block, std::size_t size)
{
    if (!block) {
        if (size == 0)
            return nullptr;
        outOfMemory();
    }
    if (memoryLimit != 0) {
        const std::size_t bytes = blockSize(block);
        const std::size_t held = memoryHeld.fetch_add(bytes, std::memory_order_relaxed) + bytes;
        if (held > memoryLimit)
            outOfMemory();
        std::size_t peak = memoryPeak.load(std::memory_order_relaxed);
        while (held > peak && !memoryPeak.compare_exchange_weak(peak, held, std::memory_order_relaxed))
            ;
    }
    return block;
}

void released(void* block)
{
    if (memoryLimit != 0 && block)
        memoryHeld.fetch_sub(blockSize(block), std::memory_order_relaxed);
}

} // namespace

void SetParserOutOfMemoryHandler(void (*handler)())
{
    parserOutOfMemory.store(handler);
}

void SetParserMemoryLimit(std::size_t bytes)
{
    memoryLimit = bytes;
}

std::size_t TakeParserMemoryPeak()
{
    return memoryPeak.exchange(memoryHeld.load(std::memory_order_relaxed), std::memory_order_relaxed);
}

// The library's allocation routines, which it calls through its symbol table; they differ from its own only in
// what happens when memory runs out, and in counting what the parser holds when it has a limit of its own.
extern "C" void* mycore_malloc(size_t size)
{
    return allocated(std::malloc(size), size);
}

extern "C" void* mycore_realloc(void* block, size_t size)
{
    // The old block is counted out before it moves; a failed realloc leaves it in place, but ends the parse anyway.
    released(block);
    return allocated(std::realloc(block, size), size);
}

extern "C" void* mycore_calloc(size_t count, size_t size)
{
    return allocated(std::calloc(count, size), count * size);
}

extern "C" void* mycore_free(void* block)
{
    released(block);
    std::free(block);
    return nullptr;
}
