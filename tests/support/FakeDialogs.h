#pragma once

#include "Dialogs.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>

// Dialogs for tests: every box is answered from a script filled before the action, and recorded, so
// a test can read back exactly what the user would have seen. Knows no test framework, so GoogleTest
// and Qt Test suites share it; they check unexpected() and remainingScript() themselves and print
// describe() when those are not empty.
class FakeDialogs final : public Dialogs
{
public:
    enum class Kind
    {
        Message,
        Question,
        Prompt,
        OpenFiles,
        SaveFile,
        ChooseFolder,
    };

    // One box as shown. Fields a kind of box has no use for keep their defaults.
    struct Box
    {
        Kind kind = Kind::Message;
        QString title = {};
        QString text = {};
        Icon icon = Icon::None;
        Answer defaultAnswer = Answer::No;
        QString proposed = {};
        QString filter = {};
        QString initialFolder = {};

        bool operator==(const Box&) const = default;
    };

    // Runs while the box is "open", after it was recorded and before it answers: the place to click
    // another button, or to script answers for boxes that this one leads to.
    using WhileOpen = std::function<void()>;

    void expectMessage(WhileOpen whileOpen = {});
    void answerQuestion(Answer answer, WhileOpen whileOpen = {});
    void answerPrompt(const QString& text, WhileOpen whileOpen = {});
    void answerOpenFiles(const QStringList& files, WhileOpen whileOpen = {});
    void answerSaveFile(const QString& path, WhileOpen whileOpen = {});
    void answerChooseFolder(const QString& folder, WhileOpen whileOpen = {});

    // Every box shown, in order, the unexpected ones included.
    const QList<Box>& transcript() const { return m_transcript; }
    // One readable line per box that came with nothing scripted for it or when the script wanted another kind.
    const QStringList& unexpected() const { return m_unexpected; }
    // Scripted answers no box has taken.
    int remainingScript() const { return int(m_script.size()); }
    // The transcript, the unexpected boxes and the unused script, for a failing test's message.
    QString describe() const;

    static QString kindName(Kind kind);
    static QString describe(const Box& box);

    void message(const QString& title, const QString& text, Icon icon) override;
    Answer question(const QString& title, const QString& text, Answer defaultAnswer) override;
    QString prompt(const QString& title, const QString& text, const QString& proposed) override;
    QStringList openFiles(const QString& title, const QString& filter) override;
    QString saveFile(const QString& title, const QString& filter) override;
    QString chooseFolder(const QString& title, const QString& initialFolder) override;

private:
    struct Step
    {
        Kind kind;
        Answer answer = Answer::No;
        QStringList texts = {}; // the answer of a prompt, a file or a folder dialog
        WhileOpen whileOpen = {};
    };

    // Records the box and takes the next step of the script when it is for this kind of box; an empty
    // step, which answers like Cancel, otherwise.
    Step show(const Box& box);

    std::deque<Step> m_script;
    QList<Box> m_transcript;
    QStringList m_unexpected;
};
