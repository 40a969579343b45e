#pragma once

#include "Shell.h"

#include <QStringList>

// Remembers the folders it was asked to open.
class FakeShell final : public Shell
{
public:
    void openFolder(const QString& folder) override { opened.append(folder); }
    QStringList opened;
};
