#pragma once

#include <QString>

// The system clipboard, as plain text.
class Clipboard
{
public:
    virtual ~Clipboard() = default;
    // Each answers whether the attempt worked.
    virtual bool clear() = 0;
    virtual bool setText(const QString& text) = 0;
};
