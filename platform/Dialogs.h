#pragma once

#include <QString>
#include <QStringList>

// Every box and dialog the program shows goes through this interface, so that the logic never
// shows one itself and tests can script the answers and read back exactly what the user saw.
class Dialogs
{
public:
    enum class Icon
    {
        None,
        Warning,
    };
    enum class Answer
    {
        Yes,
        No,
    };

    virtual ~Dialogs() = default;

    // A message with an OK button.
    virtual void message(const QString& title, const QString& text, Icon icon) = 0;
    // A question with the buttons Yes and No; defaultAnswer is the button Enter presses.
    virtual Answer question(const QString& title, const QString& text, Answer defaultAnswer) = 0;
    // A one-line text prompt with a proposed answer. Cancel gives an empty text.
    virtual QString prompt(const QString& title, const QString& text, const QString& proposed) = 0;
    // Files to open, several allowed. filter is "Label|pattern|Label|pattern|". Cancel gives an
    // empty list.
    virtual QStringList openFiles(const QString& title, const QString& filter) = 0;
    // A file to save to, with no overwrite prompt of the dialog's own. Cancel gives "".
    virtual QString saveFile(const QString& title, const QString& filter) = 0;
    // A folder, starting from initialFolder when it exists. Cancel gives "".
    virtual QString chooseFolder(const QString& title, const QString& initialFolder) = 0;
};
