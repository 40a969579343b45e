#pragma once

#include "Clipboard.h"

// The clipboard of the running QGuiApplication.
class QtClipboard final : public Clipboard
{
public:
    bool clear() override;
    bool setText(const QString& text) override;
};
