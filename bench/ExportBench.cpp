// quillory-export-bench: saving and copying a million results through the real window
// (offscreen), with the real event pump and clipboard.

#include "BenchServices.h"
#include "Dialogs.h"
#include "EventPump.h"
#include "MainWindow.h"
#include "QtClipboard.h"
#include "ResultsList.h"
#include "SettingsStore.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>

namespace {} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int rows = argc > 1 ? std::atoi(argv[1]) : 1000000;

    QTemporaryDir scratch;
    const QString target = scratch.filePath("results.txt");
    SettingsStore settings(scratch.filePath("settings.ini"));
    BenchDialogs dialogs;
    dialogs.saveTarget = target;
    QtClipboard clipboard;
    QtEventPump events;
    NoShell shell;
    MainWindow window(WindowServices{dialogs, clipboard, shell, settings, events, [] {}, scratch.path()});
    window.recordSampleFiles = [] {
    };
    window.Form_Load();
    window.show();

    // Rows of 50 characters, a little different each.
    for (int i = 0; i < rows; ++i)
        window.results().Append(
            QStringLiteral("<td class=\"figure\">row %1 of the results</td>").arg(i, 7, 10, QChar('0')).left(50));
    window.results().Flush();
    QApplication::processEvents();

    auto time = [](auto&& action) {
        QElapsedTimer clock;
        clock.start();
        action();
        return double(clock.nsecsElapsed()) / 1e9;
    };
    const double text = time([&] { window.PushButton6_Click(); });
    const qint64 textBytes = QFileInfo(target).size();
    const double comma = time([&] { window.PushButton12_Click(); });
    const qint64 commaBytes = QFileInfo(target).size();
    const double copy = time([&] { window.PushButton11_Click(); });
    const qsizetype copied = QGuiApplication::clipboard()->text().size();

    std::printf("%d rows of 50 characters\n", rows);
    std::printf("save as text           %6.2f s  %lld bytes\n", text, static_cast<long long>(textBytes));
    std::printf("save as comma-delimited %5.2f s  %lld bytes\n", comma, static_cast<long long>(commaBytes));
    std::printf("copy to clipboard      %6.2f s  %lld characters\n", copy, static_cast<long long>(copied));
    std::printf("last message: %s\n", qPrintable(dialogs.last.left(42)));
    return 0;
}
