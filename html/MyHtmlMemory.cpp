// MyHTML's memory routines, replaced: the library calls each of them through its symbol table, so
// the definitions here take the place of its own in any program linked with this file.
// Only MyHTML calls them, so MyHtmlParser.cpp names them to have the linker take this file.

#include "HtmlDocument.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

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

// MyHTML uses what its allocation routines return without looking: a failed allocation becomes a write through a
// null pointer somewhere later. The failure is caught here instead, where it happens.
void* allocated(void* block, std::size_t size)
{
    if (block || size == 0)
        return block;
    if (void (*handler)() = parserOutOfMemory.load())
        handler();
    std::abort();
}

} // namespace

void SetParserOutOfMemoryHandler(void (*handler)())
{
    parserOutOfMemory.store(handler);
}

// The library's allocation routines, which it calls through its symbol table; they differ from its own only in
// what happens when memory runs out.
extern "C" void* mycore_malloc(size_t size)
{
    return allocated(std::malloc(size), size);
}

extern "C" void* mycore_realloc(void* block, size_t size)
{
    return allocated(std::realloc(block, size), size);
}

extern "C" void* mycore_calloc(size_t count, size_t size)
{
    return allocated(std::calloc(count, size), count * size);
}
