#pragma once

#include "Clipboard.h"
#include "Shell.h"

// Stand-ins for the services a benchmark of the window does not exercise.
class NoClipboard final : public Clipboard
{
public:
    bool clear() override { return true; }
    bool setText(const QString&) override { return true; }
};

class NoShell final : public Shell
{
public:
    void openFolder(const QString&) override {}
};
