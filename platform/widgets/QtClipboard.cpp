#include "QtClipboard.h"

#include <QClipboard>
#include <QGuiApplication>

bool QtClipboard::clear()
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return false;
    clipboard->clear();
    return true;
}

bool QtClipboard::setText(const QString& text)
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return false;
    clipboard->setText(text);
    // The system may refuse ownership; what the clipboard answers now tells.
    return clipboard->text() == text;
}
