#include "PastedText.h"

#include <windows.h>

#include <cstring>
#include <cwchar>

namespace {

template <typename Read> auto paste(UINT format, Read read) -> decltype(read(nullptr))
{
    // Another program may hold the clipboard open for a moment.
    bool opened = false;
    for (int attempt = 0; attempt < 50 && !(opened = OpenClipboard(nullptr)); ++attempt)
        Sleep(20);
    if (!opened)
        return std::nullopt;
    decltype(read(nullptr)) text;
    if (HANDLE data = GetClipboardData(format)) {
        if (const void* locked = GlobalLock(data)) {
            text = read(locked);
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return text;
}

} // namespace

std::optional<QByteArray> PastedAnsiText()
{
    return paste(CF_TEXT, [](const void* data) -> std::optional<QByteArray> {
        if (!data)
            return std::nullopt;
        return QByteArray(static_cast<const char*>(data));
    });
}

std::optional<QString> PastedUnicodeText()
{
    return paste(CF_UNICODETEXT, [](const void* data) -> std::optional<QString> {
        if (!data)
            return std::nullopt;
        const auto* text = static_cast<const wchar_t*>(data);
        return QString::fromWCharArray(text, qsizetype(std::wcslen(text)));
    });
}
