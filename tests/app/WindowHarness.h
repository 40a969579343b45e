#pragma once

#include "FakeClipboard.h"
#include "FakeDialogs.h"
#include "FakeEventPump.h"
#include "FakeShell.h"
#include "HtmlDocument.h"
#include "InProcessDocuments.h"
#include "InputFileList.h"
#include "MainWindow.h"
#include "ResultsList.h"
#include "SettingsStore.h"
#include "TempDir.h"
#include "WorkerPool.h"

#include <QAbstractItemModelTester>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <optional>

// A path as the system spells it, the way the real dialogs, a drop and the program's own folder give it to the
// window: with backslashes on Windows.
inline QString native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

inline QStringList natives(QStringList paths)
{
    for (QString& path : paths)
        path = native(path);
    return paths;
}

// One window over fake services, with a scratch folder standing for the program's folder.
struct Harness
{
    QTemporaryDir folder;
    FakeDialogs dialogs;
    FakeClipboard clipboard;
    FakeShell shell;
    FakeEventPump events;
    std::unique_ptr<SettingsStore> settings;
    int endCalls = 0;
    // Runs where the real program would end: what is on disk then is what the user is left with.
    std::function<void()> atEnd = {};
    int sampleRecords = 0;
    bool recordSamplesForReal = false;
    // Documents are parsed in this process by parsers from makeParser (the real one when empty), unless
    // workers is set: then by the real worker processes, as in the program.
    std::function<std::unique_ptr<HtmlParser>()> makeParser = {};
    std::optional<DocumentWorkerSettings> workers;
    // How many files a run works on at once; the machine's cores when 0.
    int jobs = 0;
    // The window's clock, in milliseconds: it stands still unless a test moves it, so the caption shows progress
    // exactly when a test says enough time has passed.
    qint64 now = 0;
    // Where files missing beside the program are looked for next, as in an installed program.
    QString dataFolder;
    std::unique_ptr<MainWindow> window;

    Harness() { settings = std::make_unique<SettingsStore>(folder.filePath("settings.ini")); }
    ~Harness()
    {
        window.reset();
        RemoveContents(folder.path());
    }

    void writeSettings(const QMap<QString, QString>& values)
    {
        for (auto it = values.begin(); it != values.end(); ++it)
            QVERIFY(!settings->SaveSetting(it.key(), it.value()));
    }

    void writeBesideProgram(const QString& name, const QByteArray& bytes)
    {
        QDir(folder.path()).mkpath(QFileInfo(folder.filePath(name)).path());
        QFile file(folder.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    MainWindow& load()
    {
        window = std::make_unique<MainWindow>(WindowServices{dialogs, clipboard, shell, *settings, events,
                                                             [this] {
                                                                 ++endCalls;
                                                                 if (atEnd)
                                                                     atEnd();
                                                             },
                                                             native(folder.path()),
                                                             [this]() -> std::unique_ptr<DocumentService> {
                                                                 if (workers)
                                                                     return createWorkerDocuments(*workers);
                                                                 return createInProcessDocuments(
                                                                     makeParser ? makeParser : createHtmlParser);
                                                             },
                                                             [this] { return now; }, native(dataFolder), jobs});
        if (!recordSamplesForReal)
            window->recordSampleFiles = [this] {
                ++sampleRecords;
            };
        new QAbstractItemModelTester(&window->inputFiles(), QAbstractItemModelTester::FailureReportingMode::QtTest,
                                     window.get());
        new QAbstractItemModelTester(&window->results(), QAbstractItemModelTester::FailureReportingMode::QtTest,
                                     window.get());
        window->Form_Load();
        window->show();
        return *window;
    }

    template <typename T> T* find(const char* name) const { return window->findChild<T*>(QLatin1String(name)); }
    QString setting(const QString& key) const { return settings->GetSetting(key, "<none>"); }

    // Writes a file into the scratch folder and returns its path.
    QString file(const QString& name, const QByteArray& bytes)
    {
        writeBesideProgram(name, bytes);
        return folder.filePath(name);
    }
};

inline QStringList inputTexts(MainWindow& window)
{
    QStringList texts;
    for (int i = 1; i <= window.inputFiles().Count(); ++i)
        texts << window.inputFiles().ItemText(i);
    return texts;
}
