#pragma once

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

// Turning the bytes of an HTML file into UTF-8 text the way a browser opening a local file does:
// the encodings, labels and decoders are the WHATWG Encoding Standard's, and a page's own
// declaration is found the way the HTML standard's prescan finds it.
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

// The encoding a label names, after trimming ASCII white space and ignoring ASCII case; nothing
// for a label no browser knows.
std::optional<Encoding> encodingForLabel(std::string_view label);

// The encoding's canonical name, spelt as browsers report it: "UTF-8", "Shift_JIS", "windows-1252",
// "EUC-KR", "gb18030", "replacement" ...
std::string_view name(Encoding encoding);

enum class Source
{
    ByteOrderMark,
    Declaration, // <meta charset>, <meta http-equiv>, or an XML declaration, found by the prescan
    ValidUtf8,
    Fallback, // windows-1252
};

struct Detected
{
    Encoding encoding;
    Source source;
    std::size_t bomLength;
};

bool isValidUtf8(std::string_view bytes);
// Each invalid sequence (the longest start of a valid one, or a single byte) becomes one U+FFFD.
QByteArray repairUtf8(std::string_view bytes);

Detected detect(std::string_view bytes);

// The bytes decoded into valid UTF-8; undecodable bytes become U+FFFD.
QByteArray decode(std::string_view bytes, Encoding encoding);

// The bytes after the byte-order mark, decoded from the detected encoding into valid UTF-8.
// Nothing when they can be parsed as they are: valid UTF-8, or plain ASCII in an encoding that
// reads ASCII as itself.
std::optional<QByteArray> toUtf8(std::string_view content, const Detected& detected);

} // namespace HtmlEncoding
