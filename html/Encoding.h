#pragma once

#include <cstdint>

// The encodings of the WHATWG Encoding Standard, apart from the routines that detect and decode them, so that the
// decoders and the detection can both name them without including each other.
namespace HtmlEncoding {

// Every encoding a browser decodes. Labels that name nothing else a browser knows ("iso-8859-1",
// "gb2312", "ks_c_5601-1987", ...) are names of one of these.
enum class Encoding : std::uint8_t
{
    Utf8,
    Ibm866,
    Iso8859_2,
    Iso8859_3,
    Iso8859_4,
    Iso8859_5,
    Iso8859_6,
    Iso8859_7,
    Iso8859_8,
    Iso8859_8I,
    Iso8859_10,
    Iso8859_13,
    Iso8859_14,
    Iso8859_15,
    Iso8859_16,
    Koi8R,
    Koi8U,
    Macintosh,
    Windows874,
    Windows1250,
    Windows1251,
    Windows1252,
    Windows1253,
    Windows1254,
    Windows1255,
    Windows1256,
    Windows1257,
    Windows1258,
    XMacCyrillic,
    Gbk,
    Gb18030,
    Big5,
    EucJp,
    Iso2022Jp,
    ShiftJis,
    EucKr,
    Replacement, // what browsers make of ISO-2022-KR, HZ and ISO-2022-CN: one U+FFFD for the whole page
    Utf16Be,
    Utf16Le,
    XUserDefined,
};

} // namespace HtmlEncoding
