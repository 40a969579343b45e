#pragma once

#include <unicode/ucnv.h>
#include <unicode/utf16.h>

#include <cstddef>
#include <vector>

// Tables of characters, read from ICU.
//
// The multi-byte tables are large, so they come from ICU's converters, one table per process,
// built the first time a page needs it. The converters were picked to match what browsers read;
// the few places where a converter differs are corrected where each table is read. Pointers are
// the positions of byte pairs in each table, computed the way the decoders compute them. The
// single-byte tables read their upper halves from the same converters.
namespace TextDecoders {

// One ICU converter, asked for one character at a time.
class IcuConverter
{
public:
    explicit IcuConverter(const char* name)
    {
        UErrorCode status = U_ZERO_ERROR;
        m_converter = ucnv_open(name, &status);
        if (U_FAILURE(status)) {
            m_converter = nullptr;
            return;
        }
        // Stop at bytes the converter cannot map, rather than substituting (U+FFFD, or U+001A in
        // some converters): a gap must stay a gap, which our decoders turn into U+FFFD.
        ucnv_setToUCallBack(m_converter, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    }
    ~IcuConverter()
    {
        if (m_converter)
            ucnv_close(m_converter);
    }
    IcuConverter(const IcuConverter&) = delete;
    IcuConverter& operator=(const IcuConverter&) = delete;

    // The one character the bytes stand for; 0 when they stand for none, or for several.
    char32_t codePoint(const char* bytes, int length)
    {
        if (!m_converter)
            return 0;
        ucnv_resetToUnicode(m_converter);
        UChar units[4];
        UErrorCode status = U_ZERO_ERROR;
        const int32_t count = ucnv_toUChars(m_converter, units, 4, bytes, length, &status);
        if (U_FAILURE(status) || count <= 0 || count > 2)
            return 0;
        int32_t at = 0;
        UChar32 c;
        U16_NEXT(units, at, count, c);
        return at == count && !U_IS_SURROGATE(c) ? char32_t(c) : 0;
    }

private:
    UConverter* m_converter;
};

using Index = std::vector<char32_t>; // by pointer; 0 where nothing is mapped

template <typename BytesOf> Index readIndex(const char* converterName, std::size_t size, BytesOf bytesOf)
{
    Index index(size, 0);
    IcuConverter converter(converterName);
    for (std::size_t pointer = 0; pointer < size; ++pointer) {
        char bytes[4];
        const int length = bytesOf(unsigned(pointer), bytes);
        index[pointer] = converter.codePoint(bytes, length);
    }
    return index;
}

inline bool isPrivateUse(char32_t c)
{
    return c >= 0xE000 && c <= 0xF8FF;
}

} // namespace TextDecoders
