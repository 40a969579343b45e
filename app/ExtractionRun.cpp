#include "ExtractionRun.h"

#include "Dialogs.h"
#include "DocumentService.h"
#include "ErrorTrap.h"
#include "EventPump.h"
#include "FileExtraction.h"
#include "FilesAhead.h"
#include "InputFileList.h"
#include "ProgressCaption.h"
#include "ResultsList.h"
#include "RunChecks.h"
#include "RunSteps.h"
#include "ShortTitle.h"

#include <QElapsedTimer>

#include <memory>
#include <string>
#include <utility>

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

// The rows of the file in turn, made by its file ahead and taken by the run in batches.
class RowsInTurn final : public LoadedDocument
{
public:
    explicit RowsInTurn(std::function<std::optional<ExtractionFailure>()> take) : m_take(std::move(take)) {}
    // The mode and tag name are those the run settled on when the document was ready.
    std::optional<ExtractionFailure> extract(ExtractionMode, QStringView, const RowSink&) override { return m_take(); }

private:
    std::function<std::optional<ExtractionFailure>()> m_take;
};

// A line of option 3 too long to be read whole, joined before it goes into the results list, which holds every row
// whole. One the list has no room for is its file's failure: the run reports it and goes on with the next file, whose
// rows may well fit.
class JoinedRow final : public RowParts
{
public:
    JoinedRow(const ResultsList& results, std::function<void(std::string_view)> append)
        : m_results(results), m_append(std::move(append))
    {}

    void begin() override { m_row.clear(); }
    void part(std::string_view part) override
    {
        const std::uint64_t held = m_results.BytesHeld() + ResultsList::kRowOverheadBytes;
        const std::uint64_t room = m_results.CapacityBytes() > held ? m_results.CapacityBytes() - held : 0;
        if (m_row.size() + part.size() > room) {
            m_row = std::string();
            Fail(QStringLiteral("Out of memory (a line of this file is longer than the %L1 MB the results list has "
                                "room for)")
                     .arg(double(room) / (1024.0 * 1024.0), 0, 'f', 0));
        }
        m_row.append(part);
    }
    void end() override
    {
        const std::string row = std::exchange(m_row, std::string());
        m_append(row);
    }
    void abandon() override { m_row = std::string(); }

private:
    const ResultsList& m_results;
    std::function<void(std::string_view)> m_append;
    std::string m_row;
};

// What the report of a failed file says. A file that could not be read is reported in the system's own fixed words
// ("File not found"), as every program reports it. Once it was read, what failed was the parser or the worker process
// it ran in, which says nothing of the file: the report names it, as the command line's message does.
QString failureReport(const QString& path, const ExtractionFailure& failure)
{
    if (failure.stage == ExtractionStage::Read)
        return failure.description;
    return QStringLiteral("%1 in %2").arg(failure.description, path);
}

} // namespace

// One run: its checks, its turns over the files, and the documents its turns wait for. The documents are loaded
// and made into rows by the files ahead while the window processes its events; the window's thread only joins their
// rows to the list, in file order.
class ExtractionRun::Session final : public DocumentSource
{
public:
    Session(ExtractionRun& run)
        : m_run(run), m_trap(run.m_dialogs, QStringLiteral("in Pellowin2021/08/31.Form1.PushButton7_Click ")),
          m_ahead(run.m_documents, run.m_events, run.m_jobs)
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
    // One row joining the results under its step; a full list ends the run's work.
    void append(std::string_view row);
    // A batch of the file in turn joining the results.
    void append(RowBatch&& batch);

    // Waits, with the window alive, until the file's document is ready or has failed.
    void waitForDocument(const FilesAhead::File& file);
    // Takes the rows of the file in turn as they are made, until the last.
    std::optional<ExtractionFailure> takeRows(FilesAhead::File& file);
    // What a file after the one in turn is begun with: the option and tag name as they stand now. Nothing once the
    // option is one that reads lines, or past the run's files.
    std::optional<FilePlan> planAhead(int position);
    void fillAhead()
    {
        m_ahead.fill([this](int position) { return planAhead(position); });
    }

    ExtractionRun& m_run;
    ErrorTrap m_trap;
    FilesAhead m_ahead;
    int m_count = 0;
    int m_position = 0;
    ExtractionMode m_mode = ExtractionMode::LeafTexts;
    bool m_resultsFull = false;
    bool m_documentsReady = false; // whether a document of the run has been ready
    QElapsedTimer m_sinceEvents;
    static constexpr qint64 kEventsEveryMs = 10;
};

void ExtractionRun::Session::append(std::string_view row)
{
    const ModeSteps& steps = StepsOf(m_mode);
    const int step = m_mode != ExtractionMode::ElementBlocks ? steps.row
                     : row == "<tr>"                         ? steps.openingRow
                     : row == "</tr>"                        ? steps.closingRow
                                                             : steps.row;
    m_trap.step(step, [&] {
        if (m_run.m_results.AppendUtf8(row))
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

void ExtractionRun::Session::append(RowBatch&& batch)
{
    ResultsList& results = m_run.m_results;
    // A batch that might not fit goes in row by row, so that the report names the row the list refused.
    const std::uint64_t room =
        results.CapacityBytes() > results.BytesHeld() ? results.CapacityBytes() - results.BytesHeld() : 0;
    if (qint64(results.Count()) + batch.rows() > ResultsList::kMaxRows ||
        std::uint64_t(batch.bytes.size()) + ResultsList::kRowOverheadBytes * std::uint64_t(batch.rows()) > room) {
        qsizetype offset = 0;
        for (const quint32 length : batch.lengths) {
            append(std::string_view(batch.bytes.constData() + offset, length));
            offset += length;
        }
        return;
    }
    m_trap.step(StepsOf(m_mode).row, [&] { results.Append(std::move(batch)); });
}

std::optional<FilePlan> ExtractionRun::Session::planAhead(int position)
{
    if (position > m_count || position > m_run.m_inputs.Count())
        return std::nullopt;
    const std::optional<ExtractionMode> mode = m_run.m_controls.selectedMode();
    if (!mode || !IsDocumentMode(*mode))
        return std::nullopt;
    return FilePlan{m_run.m_inputs.ItemText(position), *mode, m_run.m_controls.tagName()};
}

void ExtractionRun::Session::waitForDocument(const FilesAhead::File& file)
{
    const ModeSteps& steps = StepsOf(m_mode);
    // The window stays alive while the document loads: clicks, typing, Help and closing all work.
    while (!m_run.m_stopRequested && m_trap.test(steps.stateTest, [&] { return !m_ahead.documentReady(file); })) {
        // The run's first file loads alone, so that its rows show as soon as they can.
        if (m_documentsReady)
            fillAhead();
        m_trap.step(steps.events, [&] { m_run.m_events.waitForEvents(); });
        m_sinceEvents.start();
    }
    m_documentsReady = true;
    if (m_run.m_stopRequested)
        throw RunStopped{};
}

DocumentResult ExtractionRun::Session::open(const QString& path)
{
    FilesAhead::File* file = &m_ahead.turn(m_position, path);
    QString tagName;
    for (;;) {
        waitForDocument(*file);
        // The tag name as it stands once the document is ready is the one its rows are made with; rows made ahead
        // with another are not wanted.
        tagName = m_run.m_controls.tagName();
        if (m_ahead.matches(*file, m_mode, tagName))
            break;
        file = &m_ahead.reload();
    }
    if (std::optional<ExtractionFailure> failure = m_ahead.documentFailure(*file)) {
        m_ahead.finishTurn();
        fillAhead();
        return *failure;
    }
    m_ahead.go(*file, m_mode, tagName);
    fillAhead();
    return std::unique_ptr<LoadedDocument>(std::make_unique<RowsInTurn>([this, file] { return takeRows(*file); }));
}

std::optional<ExtractionFailure> ExtractionRun::Session::takeRows(FilesAhead::File& file)
{
    for (;;) {
        FilesAhead::Taken taken = m_ahead.take(file);
        for (RowBatch& batch : taken.batches) {
            // Events between batches, so that one file of millions of rows never freezes the window; before a batch
            // rather than after it, so that a stop after a file's last rows counts the file as extracted. Not before
            // every batch: thousands of small files would spend their time there.
            if (!m_sinceEvents.isValid() || m_sinceEvents.elapsed() >= kEventsEveryMs) {
                m_run.m_events.processEvents();
                m_sinceEvents.start();
                if (m_run.m_stopRequested)
                    throw RunStopped{};
            }
            append(std::move(batch));
            m_ahead.recycle(std::move(batch));
        }
        if (taken.done) {
            m_ahead.finishTurn();
            fillAhead();
            return taken.failure;
        }
        if (taken.batches.empty()) {
            fillAhead();
            m_run.m_events.waitForEvents();
            m_sinceEvents.start();
            if (m_run.m_stopRequested)
                throw RunStopped{};
        }
    }
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
    JoinedRow joined(m_run.m_results, [this](std::string_view row) { append(row); });
    const std::optional<ExtractionFailure> failure = ExtractFile(
        path, *mode,
        [&controls] {
            return ExtractionTexts{controls.tagName(), controls.searchText()};
        },
        *this, [this](std::string_view row) { append(row); }, &joined);
    if (failure)
        m_trap.step(StepOf(*mode, failure->stage), [&] { Fail(failureReport(path, *failure)); });
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
    m_trap.step(122, [&] { m_count = m_run.m_inputs.Count(); });
    const int count = m_count;
    int turnsEnded = 0;
    // The file a stop came in the middle of, once it had given rows: they stay in the list.
    int stoppedPartWay = 0;
    ProgressCaption& events = m_run.m_events;
    events.begin([&] {
        return QStringLiteral("%1 of %2 files - %3 rows - Esc stops")
            .arg(GroupedNumber(turnsEnded), GroupedNumber(count), GroupedNumber(m_run.m_results.Count()));
    });
    for (int position = 1; position <= count && !m_resultsFull && !m_run.m_stopRequested; ++position) {
        const int rowsBeforeTurn = m_run.m_results.Count();
        try {
            extractFile(position);
        } catch (const ResultsFull&) {
        } catch (const RunStopped&) {
        }
        if (m_run.m_stopRequested) {
            if (m_run.m_results.Count() > rowsBeforeTurn)
                stoppedPartWay = position;
            break;
        }
        ++turnsEnded;
        // Option 3 lets no events through while it reads; a long run still shows its progress and can be stopped.
        if (events.due())
            events.processEvents();
    }
    // A run that stopped early, or whose last turns were in option 3, may leave files loading.
    m_ahead.clear();
    events.end();
    m_trap.step(194, [&] { controls.setBusy(false); });
    if (m_run.m_stopRequested)
        m_trap.step(196, [&] {
            // The stopped file's rows stay in the list: the message says whose they are, so that they are not
            // taken for a finished file's.
            const QString extracted = QStringLiteral("Stopped: %1 of %2 files were extracted")
                                          .arg(GroupedNumber(turnsEnded), GroupedNumber(count));
            message(stoppedPartWay
                        ? extracted + QStringLiteral("; file %1 was stopped part-way, its rows so far are kept.")
                                          .arg(GroupedNumber(stoppedPartWay))
                        : extracted + u'.');
        });
    else if (!m_resultsFull)
        m_trap.step(196, [&] { message(QStringLiteral("Done.")); });
}

ExtractionRun::ExtractionRun(Dialogs& dialogs, ProgressCaption& events, InputFileList& inputs, ResultsList& results,
                             RunControls controls, DocumentService& documents, int jobs)
    : m_dialogs(dialogs), m_events(events), m_inputs(inputs), m_results(results), m_controls(std::move(controls)),
      m_documents(documents), m_jobs(std::max(jobs, 1))
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
