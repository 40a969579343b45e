#pragma once

#include "ExtractionMode.h"

#include <QString>

#include <functional>
#include <optional>

class Dialogs;
class ProgressCaption;
class DocumentService;
class InputFileList;
class ResultsList;

// What a run reads from the window, each time a step needs it: the option buttons are looked at
// anew for every file and the texts whenever a mode needs them, so a change made while a
// document loads applies from that moment on.
struct RunControls
{
    std::function<std::optional<ExtractionMode>()> selectedMode; // nothing when no option is selected
    std::function<QString()> tagName;
    std::function<QString()> searchText;
    std::function<void()> focusTagName;
    std::function<void()> focusSearchText;
    // The busy pointer, which also keeps the window's other buttons from starting work of their own.
    std::function<void(bool)> setBusy;
};

// "Start Extracting": checks there is something to do, empties the results and turns every
// listed file into rows with the selected option, reporting failed steps and going on.
class ExtractionRun
{
public:
    ExtractionRun(Dialogs& dialogs, ProgressCaption& events, InputFileList& inputs, ResultsList& results,
                  RunControls controls, DocumentService& documents, int jobs);

    // Returns at once when a run is already in progress.
    void PushButton7_Click();
    bool inProgress() const { return m_runInProgress; }
    // Ends a run in progress at its next chance: the file being read is abandoned, the rows found so far stay, and
    // the run says how many files it got through.
    void Stop();

private:
    class Session;

    Dialogs& m_dialogs;
    ProgressCaption& m_events;
    InputFileList& m_inputs;
    ResultsList& m_results;
    RunControls m_controls;
    DocumentService& m_documents;
    int m_jobs;
    bool m_runInProgress = false;
    bool m_stopRequested = false;
};
