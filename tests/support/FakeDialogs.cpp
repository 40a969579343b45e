#include "FakeDialogs.h"

namespace {

QString quoted(const QString& text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
        .replace(QLatin1Char('"'), QLatin1String("\\\""))
        .replace(QLatin1Char('\r'), QLatin1String("\\r"))
        .replace(QLatin1Char('\n'), QLatin1String("\\n"));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

} // namespace

void FakeDialogs::expectMessage(WhileOpen whileOpen)
{
    m_script.push_back({Kind::Message, Answer::No, {}, std::move(whileOpen)});
}

void FakeDialogs::answerQuestion(Answer answer, WhileOpen whileOpen)
{
    m_script.push_back({Kind::Question, answer, {}, std::move(whileOpen)});
}

void FakeDialogs::answerPrompt(const QString& text, WhileOpen whileOpen)
{
    m_script.push_back({Kind::Prompt, Answer::No, {text}, std::move(whileOpen)});
}

void FakeDialogs::answerOpenFiles(const QStringList& files, WhileOpen whileOpen)
{
    m_script.push_back({Kind::OpenFiles, Answer::No, files, std::move(whileOpen)});
}

void FakeDialogs::answerSaveFile(const QString& path, WhileOpen whileOpen)
{
    m_script.push_back({Kind::SaveFile, Answer::No, {path}, std::move(whileOpen)});
}

void FakeDialogs::answerChooseFolder(const QString& folder, WhileOpen whileOpen)
{
    m_script.push_back({Kind::ChooseFolder, Answer::No, {folder}, std::move(whileOpen)});
}

FakeDialogs::Step FakeDialogs::show(const Box& box)
{
    m_transcript.append(box);
    if (m_script.empty() || m_script.front().kind != box.kind) {
        const QString wanted = m_script.empty()
                                   ? QStringLiteral("nothing was scripted")
                                   : QStringLiteral("the script wanted ") + kindName(m_script.front().kind);
        m_unexpected.append(QStringLiteral("box %1: %2, but %3").arg(m_transcript.size()).arg(describe(box), wanted));
        return Step{box.kind};
    }
    // Taken off the script before the callback runs, so boxes shown from inside it take the steps after it.
    Step step = std::move(m_script.front());
    m_script.pop_front();
    if (step.whileOpen)
        step.whileOpen();
    return step;
}

void FakeDialogs::message(const QString& title, const QString& text, Icon icon)
{
    show({.kind = Kind::Message, .title = title, .text = text, .icon = icon});
}

Dialogs::Answer FakeDialogs::question(const QString& title, const QString& text, Answer defaultAnswer)
{
    return show({.kind = Kind::Question, .title = title, .text = text, .defaultAnswer = defaultAnswer}).answer;
}

QString FakeDialogs::prompt(const QString& title, const QString& text, const QString& proposed)
{
    return show({.kind = Kind::Prompt, .title = title, .text = text, .proposed = proposed}).texts.value(0);
}

QStringList FakeDialogs::openFiles(const QString& title, const QString& filter)
{
    return show({.kind = Kind::OpenFiles, .title = title, .filter = filter}).texts;
}

QString FakeDialogs::saveFile(const QString& title, const QString& filter)
{
    return show({.kind = Kind::SaveFile, .title = title, .filter = filter}).texts.value(0);
}

QString FakeDialogs::chooseFolder(const QString& title, const QString& initialFolder)
{
    return show({.kind = Kind::ChooseFolder, .title = title, .initialFolder = initialFolder}).texts.value(0);
}

QString FakeDialogs::kindName(Kind kind)
{
    switch (kind) {
    case Kind::Message:
        return QStringLiteral("message");
    case Kind::Question:
        return QStringLiteral("question");
    case Kind::Prompt:
        return QStringLiteral("prompt");
    case Kind::OpenFiles:
        return QStringLiteral("open files");
    case Kind::SaveFile:
        return QStringLiteral("save file");
    case Kind::ChooseFolder:
        return QStringLiteral("choose folder");
    }
    return QStringLiteral("?");
}

QString FakeDialogs::describe(const Box& box)
{
    QString line = kindName(box.kind) + QLatin1Char(' ') + quoted(box.title);
    switch (box.kind) {
    case Kind::Message:
        line += QLatin1Char(' ') + quoted(box.text);
        if (box.icon == Icon::Warning)
            line += QLatin1String(" [warning]");
        break;
    case Kind::Question:
        line += QLatin1Char(' ') + quoted(box.text) +
                (box.defaultAnswer == Answer::Yes ? QLatin1String(" [default Yes]") : QLatin1String(" [default No]"));
        break;
    case Kind::Prompt:
        line += QLatin1Char(' ') + quoted(box.text) + QLatin1String(" proposing ") + quoted(box.proposed);
        break;
    case Kind::OpenFiles:
    case Kind::SaveFile:
        line += QLatin1String(" filter ") + quoted(box.filter);
        break;
    case Kind::ChooseFolder:
        line += QLatin1String(" from ") + quoted(box.initialFolder);
        break;
    }
    return line;
}

QString FakeDialogs::describe() const
{
    QString out = QStringLiteral("Boxes shown: %1\n").arg(m_transcript.size());
    for (qsizetype i = 0; i < m_transcript.size(); ++i)
        out += QStringLiteral("  %1. %2\n").arg(i + 1).arg(describe(m_transcript.at(i)));
    if (!m_unexpected.isEmpty()) {
        out += QStringLiteral("Unexpected:\n");
        for (const QString& line : m_unexpected)
            out += QStringLiteral("  ") + line + QLatin1Char('\n');
    }
    if (!m_script.empty()) {
        out += QStringLiteral("Never used:");
        for (const Step& step : m_script)
            out += QLatin1Char(' ') + kindName(step.kind);
        out += QLatin1Char('\n');
    }
    return out;
}
