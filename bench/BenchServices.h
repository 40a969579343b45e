#pragma once

#include "Clipboard.h"
#include "Dialogs.h"
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

// Answers every box at once: OK, the default button, and the folder, extension and save target
// a benchmark sets.
class BenchDialogs final : public Dialogs
{
public:
    void message(const QString&, const QString& text, Icon) override { last = text; }
    Answer question(const QString&, const QString&, Answer answer) override { return answer; }
    QString prompt(const QString&, const QString&, const QString& proposed) override
    {
        return extension.isEmpty() ? proposed : extension;
    }
    QStringList openFiles(const QString&, const QString&) override { return {}; }
    QString saveFile(const QString&, const QString&) override { return saveTarget; }
    QString chooseFolder(const QString&, const QString&) override { return folder; }

    QString extension;
    QString saveTarget;
    QString folder;
    QString last;
};
