#pragma once

// ASCII bytes as HTML reads them, for the scans that look at a page's bytes before it is decoded:
// the lookup of an encoding's label and the prescan for a declaration.
namespace HtmlEncoding {

// White space as HTML and the label lookup know it.
inline bool isSpace(unsigned char b)
{
    return b == 0x09 || b == 0x0A || b == 0x0C || b == 0x0D || b == 0x20;
}

inline unsigned char toLower(unsigned char b)
{
    return b >= 'A' && b <= 'Z' ? b + 0x20 : b;
}

} // namespace HtmlEncoding
