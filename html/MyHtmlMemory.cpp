// MyHTML's memory routines, replaced: the library calls each of them through its symbol table, so
// the definitions here take the place of its own in any program linked with this file.
// Only MyHTML calls them, so MyHtmlParser.cpp names them to have the linker take this file.

#include "HtmlDocument.h"

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

namespace {

std::atomic<void (*)()> parserOutOfMemory{nullptr};

// The parser's own limit, and the bytes its blocks hold now; 0: no limit, and nothing counted.
std::size_t memoryLimit = 0;
std::atomic<std::size_t> memoryHeld{0};

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
        if (memoryHeld.fetch_add(bytes, std::memory_order_relaxed) + bytes > memoryLimit)
            outOfMemory();
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
