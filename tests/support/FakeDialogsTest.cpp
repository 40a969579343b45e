#include "FakeDialogs.h"
#include "FakeEventPump.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <gtest/gtest.h>

using Box = FakeDialogs::Box;
using Kind = FakeDialogs::Kind;
using Answer = Dialogs::Answer;
using Icon = Dialogs::Icon;

TEST(FakeDialogs, AnswersFromTheScriptAndRecordsWhatWasShown)
{
    FakeDialogs dialogs;
    dialogs.answerOpenFiles({QStringLiteral("/a.htm"), QStringLiteral("/b.htm")});
    dialogs.expectMessage();
    dialogs.answerQuestion(Answer::Yes);
    dialogs.answerPrompt(QStringLiteral("txt"));
    dialogs.answerChooseFolder(QStringLiteral("/data"));
    dialogs.answerSaveFile(QStringLiteral("/out.txt"));

    EXPECT_EQ(dialogs.openFiles(QStringLiteral("Open"), QStringLiteral("All|*.*|")),
              QStringList({QStringLiteral("/a.htm"), QStringLiteral("/b.htm")}));
    dialogs.message(QStringLiteral("Quillory"), QStringLiteral("Done."), Icon::Warning);
    EXPECT_EQ(dialogs.question(QStringLiteral("Quillory"), QStringLiteral("Sure?"), Answer::No), Answer::Yes);
    EXPECT_EQ(dialogs.prompt(QStringLiteral("Quillory"), QStringLiteral("Extension?"), QStringLiteral("htm")),
              QStringLiteral("txt"));
    EXPECT_EQ(dialogs.chooseFolder(QStringLiteral("Pick"), QStringLiteral("/home")), QStringLiteral("/data"));
    EXPECT_EQ(dialogs.saveFile(QStringLiteral("Save"), QStringLiteral("Text|*.txt|")), QStringLiteral("/out.txt"));

    const QList<Box> expected = {
        {.kind = Kind::OpenFiles, .title = QStringLiteral("Open"), .filter = QStringLiteral("All|*.*|")},
        {.kind = Kind::Message,
         .title = QStringLiteral("Quillory"),
         .text = QStringLiteral("Done."),
         .icon = Icon::Warning},
        {.kind = Kind::Question, .title = QStringLiteral("Quillory"), .text = QStringLiteral("Sure?")},
        {.kind = Kind::Prompt,
         .title = QStringLiteral("Quillory"),
         .text = QStringLiteral("Extension?"),
         .proposed = QStringLiteral("htm")},
        {.kind = Kind::ChooseFolder, .title = QStringLiteral("Pick"), .initialFolder = QStringLiteral("/home")},
        {.kind = Kind::SaveFile, .title = QStringLiteral("Save"), .filter = QStringLiteral("Text|*.txt|")},
    };
    EXPECT_EQ(dialogs.transcript(), expected) << dialogs.describe().toStdString();
    EXPECT_TRUE(dialogs.unexpected().isEmpty());
    EXPECT_EQ(dialogs.remainingScript(), 0);
}

TEST(FakeDialogs, AnUnscriptedOrMismatchedBoxIsReportedAndCancelled)
{
    FakeDialogs dialogs;
    // Nothing scripted: every kind answers like Cancel.
    EXPECT_EQ(dialogs.question(QStringLiteral("T"), QStringLiteral("Overwrite?"), Answer::Yes), Answer::No);
    EXPECT_EQ(dialogs.prompt(QStringLiteral("T"), QStringLiteral("Ext"), QStringLiteral("htm")), QString());
    EXPECT_EQ(dialogs.openFiles(QStringLiteral("Open"), QString()), QStringList());
    EXPECT_EQ(dialogs.saveFile(QStringLiteral("Save"), QString()), QString());
    EXPECT_EQ(dialogs.chooseFolder(QStringLiteral("Pick"), QString()), QString());

    // The script wants a question; a message comes first and leaves the question's answer in place.
    dialogs.answerQuestion(Answer::Yes);
    dialogs.message(QStringLiteral("T"), QStringLiteral("Done."), Icon::None);
    EXPECT_EQ(dialogs.remainingScript(), 1);
    EXPECT_EQ(dialogs.question(QStringLiteral("T"), QStringLiteral("Sure?"), Answer::No), Answer::Yes);

    EXPECT_EQ(dialogs.transcript().size(), 7);
    const QStringList& unexpected = dialogs.unexpected();
    ASSERT_EQ(unexpected.size(), 6) << dialogs.describe().toStdString();
    const struct
    {
        int index;
        const char* mentions;
    } cases[] = {
        {0, "box 1: question \"T\" \"Overwrite?\" [default Yes], but nothing was scripted"},
        {1, "proposing \"htm\""},
        {2, "open files \"Open\""},
        {4, "choose folder \"Pick\""},
        {5, "box 6: message \"T\" \"Done.\", but the script wanted question"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.index);
        EXPECT_TRUE(unexpected.at(c.index).contains(QString::fromUtf8(c.mentions)))
            << unexpected.at(c.index).toStdString();
    }
}

TEST(FakeDialogs, BoxesShownWhileOneIsOpenTakeTheFollowingAnswers)
{
    FakeDialogs dialogs;
    QString nestedAnswer;
    dialogs.answerQuestion(Answer::Yes, [&] {
        nestedAnswer = dialogs.prompt(QStringLiteral("T"), QStringLiteral("Inner"), QString());
        // Scripted from inside: the box after this one.
        dialogs.answerSaveFile(QStringLiteral("/late.txt"));
    });
    dialogs.answerPrompt(QStringLiteral("inner answer"));
    dialogs.expectMessage();

    EXPECT_EQ(dialogs.question(QStringLiteral("T"), QStringLiteral("Outer"), Answer::Yes), Answer::Yes);
    EXPECT_EQ(nestedAnswer, QStringLiteral("inner answer"));
    dialogs.message(QStringLiteral("T"), QStringLiteral("After"), Icon::None);
    EXPECT_EQ(dialogs.saveFile(QStringLiteral("Save"), QString()), QStringLiteral("/late.txt"));

    QStringList order;
    for (const Box& box : dialogs.transcript())
        order.append(box.text.isEmpty() ? box.title : box.text);
    EXPECT_EQ(order, QStringList({QStringLiteral("Outer"), QStringLiteral("Inner"), QStringLiteral("After"),
                                  QStringLiteral("Save")}));
    EXPECT_TRUE(dialogs.unexpected().isEmpty()) << dialogs.describe().toStdString();
    EXPECT_EQ(dialogs.remainingScript(), 0);
}

TEST(FakeEventPump, RunsActionsAtTheirCallsEvenWhenTheyPumpAgain)
{
    FakeEventPump pump;
    QStringList log;
    pump.onCall(2, [&] {
        log.append(QStringLiteral("second"));
        pump.processEvents();
    });
    pump.onCall(3, [&] { log.append(QStringLiteral("third")); });
    pump.onCall(3, [&] { log.append(QStringLiteral("third again")); });
    pump.everyCall([&] { log.append(QString::number(pump.calls())); });

    for (int i = 0; i < 4; ++i)
        pump.processEvents();
    EXPECT_EQ(pump.calls(), 5);
    EXPECT_EQ(log, QStringList({QStringLiteral("1"), QStringLiteral("second"), QStringLiteral("third"),
                                QStringLiteral("third again"), QStringLiteral("3"), QStringLiteral("3"),
                                QStringLiteral("4"), QStringLiteral("5")}));
}

TEST(FakeEventPump, LetsQueuedCallsThroughOnlyWhenForwarding)
{
    ASSERT_NE(QCoreApplication::instance(), nullptr);
    FakeEventPump pump;
    int delivered = 0;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [&] { ++delivered; }, Qt::QueuedConnection);
    pump.processEvents();
    EXPECT_EQ(delivered, 0);
    pump.setForwarding(true);
    pump.processEvents();
    EXPECT_EQ(delivered, 1);
}
