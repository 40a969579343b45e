#pragma once

#include "Shell.h"

class QtShell final : public Shell
{
public:
    void openFolder(const QString& folder) override;
};
