// The results' gestures: the two saves, the copy to the clipboard and clearing the list.

#include "MainWindow.h"

#include "Clipboard.h"
#include "Dialogs.h"
#include "ErrorTrap.h"
#include "FileSystem.h"
#include "ProgressCaption.h"
#include "ResultsExport.h"
#include "ResultsList.h"
#include "ShortTitle.h"
#include "StepNumberTables.h"

namespace {

QString rowsProgress(int done, int all)
{
    return QStringLiteral("%1 of %2 rows").arg(GroupedNumber(done), GroupedNumber(all));
}

} // namespace

QString MainWindow::chooseSaveTarget(ErrorTrap& trap)
{
    QString path;
    trap.step(114, [&] {
        path = m_services.dialogs.saveFile(QStringLiteral("Save"),
                                           QStringLiteral("Text Files (*.txt)|*.txt|All Files (*.*)|*.*|"));
    });
    if (trap.test(118, [&] { return path.isEmpty(); }))
        return QString();
    Dialogs::Answer answer = Dialogs::Answer::Yes;
    if (trap.test(120, [&] { return FileExists(path); })) {
        trap.step(122, [&] {
            answer = m_services.dialogs.question(
                ShortTitle::Get(), QStringLiteral("Are you sure you wish to overwrite ") + path + QStringLiteral(" ?"),
                Dialogs::Answer::Yes);
        });
    }
    if (trap.test(126, [&] { return answer != Dialogs::Answer::Yes; }))
        return QString();
    return path;
}

void MainWindow::saveResults(ErrorTrap& trap, const std::function<std::optional<ExportFailure>(int* written)>& save)
{
    int written = 0;
    const int rows = m_results->Count();
    m_progress->begin([&] { return rowsProgress(written, rows); });
    const std::optional<ExportFailure> failure = save(&written);
    m_progress->end();
    if (failure)
        ErrorReport(m_services.dialogs, failure->description, trap.location(), kExportStepNumbers[failure->step]);
}

void MainWindow::PushButton6_Click()
{
    ErrorTrap trap(m_services.dialogs, location("PushButton6_Click"));
    const QString path = chooseSaveTarget(trap);
    if (path.isEmpty())
        return;
    trap.step(128, [this] { setPointer(Hourglass); });
    trap.step(130, [&] {
        saveResults(trap, [&](int* written) { return SaveResultsAsText(path, *m_results, *m_progress, written); });
    });
    trap.step(142, [this] { setPointer(DefaultPointer); });
}

void MainWindow::PushButton12_Click()
{
    ErrorTrap trap(m_services.dialogs, location("PushButton12_Click"));
    const QString path = chooseSaveTarget(trap);
    if (path.isEmpty())
        return;
    trap.step(128, [this] { setPointer(Hourglass); });
    trap.step(130, [&] {
        saveResults(trap,
                    [&](int* written) { return SaveResultsAsCommaDelimited(path, *m_results, *m_progress, written); });
    });
    trap.step(144, [this] { setPointer(DefaultPointer); });
}

void MainWindow::PushButton11_Click()
{
    ErrorTrap trap(m_services.dialogs, location("PushButton11_Click"));
    // Copying hundreds of thousands of rows takes seconds: the busy pointer shows it, as for the saves.
    setPointer(Hourglass);
    trap.step(106, [this] {
        // The results list has no check marks and the message says the results were copied:
        // every row is taken.
        const CopyableList rows{[this] { return m_results->Count(); }, 1,
                                [this](int row, int) -> std::optional<QString> {
                                    if (row > m_results->Count())
                                        return std::nullopt;
                                    return m_results->Text(row);
                                },
                                [](int) {
                                    return true;
                                }};
        int copied = 0;
        const int count = m_results->Count();
        m_progress->begin([&] { return rowsProgress(copied, count); });
        const std::optional<Failure> failure = CopyListToClipboard(rows, m_services.clipboard, *m_progress, &copied);
        m_progress->end();
        if (failure)
            Fail(*failure);
    });
    setPointer(DefaultPointer);
    trap.step(108, [this] {
        m_services.dialogs.message(ShortTitle::Get(),
                                   QStringLiteral("Results have been copied to the clipboard.\r\rClick a text area "
                                                  "where you normally type and press Ctrl+V to paste the clipboard."),
                                   Dialogs::Icon::None);
    });
}

void MainWindow::PushButton9_Click()
{
    ErrorTrap trap(m_services.dialogs, location("PushButton9_Click"));
    trap.step(100, [this] { m_results->Clear(); });
}
