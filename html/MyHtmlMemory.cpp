// MyHTML's memory routines, replaced: the library calls each of them through its symbol table, so
// the definitions here take the place of its own in any program linked with this file.
// Only MyHTML calls them, so MyHtmlParser.cpp names them to have the linker take this file.

#include "HtmlDocument.h"

#include <mycore/utils/mchar_async.h>

#include <algorithm>
#include <atomic>
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
