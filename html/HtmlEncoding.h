#pragma once

#include "Encoding.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

// Turning the bytes of an HTML file into UTF-8 text the way a browser opening a local file does:
// the encodings, labels and decoders are the WHATWG Encoding Standard's, and a page's own
// declaration is found the way the HTML standard's prescan finds it, or further on in the page's
// head, where Chromium finds it.
namespace HtmlEncoding {

// The encoding a label names, after trimming ASCII white space and ignoring ASCII case; nothing
// for a label no browser knows.
std::optional<Encoding> encodingForLabel(std::string_view label);

// The encoding's canonical name, spelt as browsers report it: "UTF-8", "Shift_JIS", "windows-1252",
// "EUC-KR", "gb18030", "replacement" ...
std::string_view name(Encoding encoding);

enum class Source
{
    ByteOrderMark,
    Declaration, // <meta charset> or <meta http-equiv> (in the first 1024 bytes or in the head), or an XML declaration
    ValidUtf8,
    Fallback, // the system's ANSI code page: windows-1252 on Linux
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
