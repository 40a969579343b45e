#pragma once

#include <QByteArray>

#include <optional>
#include <string_view>

// Turning the bytes of an HTML file into UTF-8 text the way a browser opening a local file does.
namespace HtmlEncoding {

enum class Source
{
    ByteOrderMark,
    Declaration, // <meta charset> or http-equiv, found by the standard prescan
    ValidUtf8,
    Fallback, // Windows-1252
};

struct Detected
{
    int encoding; // a MyHTML encoding id
    Source source;
    std::size_t bomLength;
};

bool isValidUtf8(std::string_view bytes);
// Invalid sequences become U+FFFD, as a UTF-8 decoder does.
QByteArray repairUtf8(std::string_view bytes);

Detected detect(std::string_view bytes);

// The bytes after the byte-order mark, decoded from the detected encoding into valid UTF-8.
// Nothing when they are valid UTF-8 already and can be parsed as they are.
std::optional<QByteArray> toUtf8(std::string_view content, const Detected& detected);

// The UTF-8 name of the encoding ("utf-8", "windows-1252", ...), for messages and tests.
std::string_view name(int encoding);

} // namespace HtmlEncoding
