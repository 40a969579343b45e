#pragma once

#include "TextDecoders.h"

#include <cstddef>

// The byte steps every decoder takes, shared by the decoders' files.
namespace TextDecoders {

// Copies the ASCII run at `at` and moves past it.
inline void copyAscii(const unsigned char* s, std::size_t n, std::size_t& at, Utf8Writer& out)
{
    at = std::size_t(out.copyAscii(s + at, s + n) - s);
}

inline bool inRange(unsigned char b, unsigned char low, unsigned char high)
{
    return b >= low && b <= high;
}

} // namespace TextDecoders
