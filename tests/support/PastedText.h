#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// What another program pasting from the Windows clipboard gets, read with the Win32 clipboard calls: the
// ANSI text (CF_TEXT, in the system's code page) as bytes, or the Unicode text (CF_UNICODETEXT), each up to
// its terminating NUL. Nothing when the clipboard holds no text or cannot be opened.
std::optional<QByteArray> PastedAnsiText();
std::optional<QString> PastedUnicodeText();
