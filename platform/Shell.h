#pragma once

#include <QString>

// The desktop's file manager.
class Shell
{
public:
    virtual ~Shell() = default;
    // Opens the folder with the desktop's default action; whether that worked is not looked at.
    virtual void openFolder(const QString& folder) = 0;
};
