#include "ExtractionRun.h"

#include "Dialogs.h"
#include "DocumentService.h"
#include "ErrorTrap.h"
#include "EventPump.h"
#include "FileExtraction.h"
#include "InputFileList.h"
#include "ProgressCaption.h"
#include "ResultsList.h"
#include "RunChecks.h"
#include "RunSteps.h"
#include "ShortTitle.h"

#include <QElapsedTimer>

#include <memory>

namespace {

// Thrown through a mode's walk once the results list is full, to end the run's work there.
struct ResultsFull
{
};

// Thrown through a mode's walk, or out of the wait for a document, when the user stops the run, to end its work
// there.
struct RunStopped
{
};

constexpr ExtractionMode kModesInOrder[] = {ExtractionMode::LeafTexts, ExtractionMode::ElementBlocks,
                                            ExtractionMode::MatchingLines, ExtractionMode::TagNames};

} // namespace

// One run: its checks, its turns over the files, and the documents its turns wait for. The documents are loaded
// while the window processes its events, and the next file's is started ahead while this one's rows are made.
class ExtractionRun::Session final : public DocumentSource
{
public:
    Session(ExtractionRun& run)
        : m_run(run), m_trap(run.m_dialogs, QStringLiteral("in Pellowin2021/08/31.Form1.PushButton7_Click "))
    {}

    void run();
    DocumentResult open(const QString& path) override;

private:
    void message(const QString& text) { m_run.m_dialogs.message(ShortTitle::Get(), text, Dialogs::Icon::None); }
    // The selected option's checks; true when the run may go ahead.
    bool passesChecks();
    void extractFile(int position);
    // The selected option, tested in the order of the buttons; nothing when none is selected.
    std::optional<ExtractionMode> selectedMode();
    // Where a mode's rows go: into the results, each row under its step, the window kept alive meanwhile.
    RowSink rowsOf(ExtractionMode mode);
    void append(int step, std::string_view row);
    // A file's rows come without a wait between them; the window still processes its events every few dozen
    // milliseconds while they do, so that one file with many rows does not freeze it.
    void keepAlive();

    // Starts reading the next file's document while this one's rows are made, so that the two
    // cores share the work; used only if that file's turn comes in a document mode.
    void prefetch(int position);
    // Lets a load nobody will use finish without holding up the window.
    void dropPrefetch();

    ExtractionRun& m_run;
    ErrorTrap m_trap;
    std::unique_ptr<PendingDocument> m_next;
    QString m_nextPath;
    int m_position = 0;
    ExtractionMode m_mode = ExtractionMode::LeafTexts;
    bool m_resultsFull = false;
    QElapsedTimer m_sinceEvents;
    unsigned m_rowsSinceCheck = 0;
};

void ExtractionRun::Session::keepAlive()
{
    // The clock is read every so many rows only: a row costs far less than reading it.
    constexpr unsigned kRowsPerCheck = 256;
    constexpr qint64 kMaximumGapMs = 40;
    if (++m_rowsSinceCheck < kRowsPerCheck)
        return;
    m_rowsSinceCheck = 0;
    if (!m_sinceEvents.isValid()) {
        m_sinceEvents.start();
    } else if (m_sinceEvents.elapsed() >= kMaximumGapMs) {
        m_run.m_events.processEvents();
        m_sinceEvents.start();
        if (m_run.m_stopRequested)
            throw RunStopped{};
    }
}

void ExtractionRun::Session::append(int step, std::string_view row)
{
    m_trap.step(step, [&] {
        if (m_run.m_results.Append(QString::fromUtf8(row.data(), qsizetype(row.size()))))
            return;
        // Reported once; the rows already in stay, and the run stops here.
        m_resultsFull = true;
        Fail(QStringLiteral("Out of memory (the results list is full at %L1 rows; the rest of this extraction "
                            "is left out)")
                 .arg(m_run.m_results.Count()));
    });
    if (m_resultsFull)
        throw ResultsFull{};
}

RowSink ExtractionRun::Session::rowsOf(ExtractionMode mode)
{
    const ModeSteps& steps = StepsOf(mode);
    switch (mode) {
    case ExtractionMode::ElementBlocks:
        return [this, steps](std::string_view row) {
            keepAlive();
            append(row == "<tr>" ? steps.openingRow : row == "</tr>" ? steps.closingRow : steps.row, row);
        };
    case ExtractionMode::MatchingLines:
        // Option 3 lets no events through while it reads: its lines come from a file already in memory.
        return [this, steps](std::string_view row) {
            append(steps.row, row);
        };
    case ExtractionMode::LeafTexts:
    case ExtractionMode::TagNames:
        break;
    }
    return [this, steps](std::string_view row) {
        keepAlive();
        append(steps.row, row);
    };
}

void ExtractionRun::Session::prefetch(int position)
{
    if (position > m_run.m_inputs.Count())
        return;
    m_nextPath = m_run.m_inputs.ItemText(position);
    EventPump& events = m_run.m_events;
    m_next = m_run.m_documents.load(m_nextPath, [&events] { events.wake(); });
}

void ExtractionRun::Session::dropPrefetch()
{
    if (!m_next)
        return;
    m_next->abandon();
    while (m_next->readyState() != QStringLiteral("complete"))
        m_run.m_events.waitForEvents();
    m_next.reset();
}

DocumentResult ExtractionRun::Session::open(const QString& path)
{
    const ModeSteps& steps = StepsOf(m_mode);
    std::unique_ptr<PendingDocument> load;
    if (m_next && m_nextPath == path)
        load = std::move(m_next);
    // The list was reordered meanwhile: that load is not wanted.
    dropPrefetch();
    if (!load) {
        EventPump& events = m_run.m_events;
        load = m_run.m_documents.load(path, [&events] { events.wake(); });
    }
    // The window stays alive while the document loads: clicks, typing, Help and closing all work.
    while (!m_run.m_stopRequested &&
           m_trap.test(steps.stateTest, [&] { return load->readyState() != QStringLiteral("complete"); }))
        m_trap.step(steps.events, [&] { m_run.m_events.waitForEvents(); });
    if (m_run.m_stopRequested) {
        load->abandon();
        throw RunStopped{};
    }
    m_sinceEvents.start();
    DocumentResult document = load->take();
    prefetch(m_position + 1);
    return document;
}

std::optional<ExtractionMode> ExtractionRun::Session::selectedMode()
{
    const std::optional<ExtractionMode> selected = m_run.m_controls.selectedMode();
    for (const ExtractionMode mode : kModesInOrder) {
        if (m_trap.test(StepsOf(mode).selectionTest, [&] { return selected == mode; }))
            return mode;
    }
    return std::nullopt;
}

void ExtractionRun::Session::extractFile(int position)
{
    m_position = position;
    QString path;
    if (!m_trap.step(124, [&] {
            if (position > m_run.m_inputs.Count())
                Fail(QStringLiteral("Invalid property value (the list has no item %1 any more)").arg(position));
            path = m_run.m_inputs.ItemText(position);
        }))
        return;
    const std::optional<ExtractionMode> mode = selectedMode();
    if (!mode)
        return;
    m_mode = *mode;
    // The texts are read once the document or the lines are ready: a change typed meanwhile already counts.
    const RunControls& controls = m_run.m_controls;
    const std::optional<ExtractionFailure> failure = ExtractFile(
        path, *mode,
        [&controls] {
            return ExtractionTexts{controls.tagName(), controls.searchText()};
        },
        *this, rowsOf(*mode));
    if (failure)
        m_trap.step(StepOf(*mode, failure->stage), [&] { Fail(failure->description); });
}

void ExtractionRun::Session::run()
{
    RunControls& controls = m_run.m_controls;
    // The checks; a text is checked only when its option is the selected one. A check that cannot be made refuses
    // the run, after its report.
    std::optional<QString> refusal;
    if (!m_trap.step(104, [&] {
            refusal = CheckRunInputs(m_run.m_inputs.Count(), controls.selectedMode(), controls.tagName(),
                                     controls.searchText());
        }))
        return;
    if (refusal == kNoFilesAdded) {
        m_trap.step(198, [&] { message(kNoFilesAdded); });
        return;
    }
    if (refusal == kForgotTagName) {
        m_trap.step(108, [&] { message(kForgotTagName); });
        m_trap.step(110, [&] { controls.focusTagName(); });
        return;
    }
    if (refusal == kForgotTagOrData) {
        m_trap.step(114, [&] { message(kForgotTagOrData); });
        m_trap.step(116, [&] { controls.focusSearchText(); });
        return;
    }

    m_trap.step(118, [&] { controls.setBusy(true); });
    m_trap.step(120, [&] { m_run.m_results.Clear(); });
    int count = 0;
    m_trap.step(122, [&] { count = m_run.m_inputs.Count(); });
    int turnsEnded = 0;
    ProgressCaption& events = m_run.m_events;
    events.begin([&] {
        return QStringLiteral("%1 of %2 files - %3 rows - Esc stops")
            .arg(GroupedNumber(turnsEnded), GroupedNumber(count), GroupedNumber(m_run.m_results.Count()));
    });
    for (int position = 1; position <= count && !m_resultsFull && !m_run.m_stopRequested; ++position) {
        try {
            extractFile(position);
        } catch (const ResultsFull&) {
        } catch (const RunStopped&) {
        }
        if (m_run.m_stopRequested)
            break;
        ++turnsEnded;
        // Option 3 lets no events through while it reads; a long run still shows its progress and can be stopped.
        if (events.due())
            events.processEvents();
    }
    // A run that stopped early, or whose last turns were in option 3, may leave the next file loading.
    dropPrefetch();
    events.end();
    m_trap.step(194, [&] { controls.setBusy(false); });
    if (m_run.m_stopRequested)
        m_trap.step(196, [&] {
            message(QStringLiteral("Stopped: %1 of %2 files were extracted.")
                        .arg(GroupedNumber(turnsEnded), GroupedNumber(count)));
        });
    else if (!m_resultsFull)
        m_trap.step(196, [&] { message(QStringLiteral("Done.")); });
}

ExtractionRun::ExtractionRun(Dialogs& dialogs, ProgressCaption& events, InputFileList& inputs, ResultsList& results,
                             RunControls controls, DocumentService& documents)
    : m_dialogs(dialogs), m_events(events), m_inputs(inputs), m_results(results), m_controls(std::move(controls)),
      m_documents(documents)
{}

void ExtractionRun::PushButton7_Click()
{
    if (m_runInProgress)
        return;
    m_runInProgress = true;
    m_stopRequested = false;
    Session(*this).run();
    m_runInProgress = false;
    m_stopRequested = false;
}

void ExtractionRun::Stop()
{
    if (m_runInProgress)
        m_stopRequested = true;
}
