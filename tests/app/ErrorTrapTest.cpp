#include "ErrorTrap.h"
#include "FakeDialogs.h"
#include "ShortTitle.h"

#include <QTest>

class ErrorTrapTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void reportTextIsExact()
    {
        QCOMPARE(ErrorReportText("Permission denied", "in Pellowin2021/08/31.Form1.PushButton6_Click ", 106),
                 QStringLiteral("Permission denied\r\nin Pellowin2021/08/31.Form1.PushButton6_Click at line "
                                "106\r\rPlease email screenshot of this message to support@quorvane.com"));
    }

    void failedStepsAreReportedAndTheHandlerGoesOn()
    {
        FakeDialogs dialogs;
        dialogs.expectMessage();
        dialogs.expectMessage();
        ErrorTrap trap(dialogs, "in Pellowin2021/08/31.Form1.PushButton7_Click ");
        QStringList done;
        QVERIFY(trap.step(100, [&] { done << "100"; }));
        QVERIFY(!trap.step(102, [&] { Fail(QStringLiteral("File not found")); }));
        done << "after 102";
        QVERIFY(!trap.step(104, [&] { throw std::bad_alloc(); }));
        QCOMPARE(done, QStringList({"100", "after 102"}));

        const auto boxes = dialogs.transcript();
        QCOMPARE(boxes.size(), 2);
        QCOMPARE(boxes[0].title, QStringLiteral("Application Error"));
        QCOMPARE(boxes[0].icon, Dialogs::Icon::Warning);
        QCOMPARE(boxes[0].text,
                 ErrorReportText("File not found", "in Pellowin2021/08/31.Form1.PushButton7_Click ", 102));
        QCOMPARE(boxes[1].text,
                 ErrorReportText("Out of memory", "in Pellowin2021/08/31.Form1.PushButton7_Click ", 104));
        QVERIFY(dialogs.unexpected().isEmpty());
    }

    void aFailingTestRunsTheBranchItGuards()
    {
        FakeDialogs dialogs;
        dialogs.expectMessage();
        ErrorTrap trap(dialogs, "in Pellowin2021/08/31.Form1.Form_Load ");
        QVERIFY(trap.test(104, []() -> bool { Fail(QStringLiteral("Bad file name or number")); }));
        QVERIFY(!trap.test(106, [] { return false; }));
        QCOMPARE(dialogs.transcript().size(), 1);
    }

    void shortTitleCutsAtLeastOnce_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("expected");
        QTest::newRow("ten words") << "abcd efgh ijkl mnop qrst uvwx yzab cdef ghij klmn"
                                   << "abcd efgh ijkl mnop qrst uvwx yzab cdef";
        QTest::newRow("two words") << "Quillory Extractor"
                                   << "Quillory";
        QTest::newRow("one word") << "Quillory"
                                  << "Quillory";
    }
    void shortTitleCutsAtLeastOnce()
    {
        QFETCH(QString, title);
        QFETCH(QString, expected);
        QCOMPARE(ShortTitle::Derive(title), expected);
    }
};

std::unique_ptr<QObject> makeErrorTrapTest()
{
    return std::make_unique<ErrorTrapTest>();
}

#include "ErrorTrapTest.moc"
