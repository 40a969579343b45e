#include "ExtractionRun.h"

#include "Dialogs.h"
#include "DocumentService.h"
#include "ErrorTrap.h"
#include "EventPump.h"
#include "InputFileList.h"
#include "ProgressCaption.h"
#include "ResultsList.h"
#include "RunChecks.h"
#include "ShortTitle.h"

#include <QElapsedTimer>

#include <memory>

namespace {

// The step labels of one document mode: the document's creation, the two steps of the wait for it (the state test
// and the events let through), and the walk that makes its rows.
struct DocumentSteps
{
    int create;
    int stateTest;
    int events;
    int loop;
};

constexpr DocumentSteps kLeafSteps{128, 130, 132, 134};
constexpr DocumentSteps kBlockSteps{144, 146, 148, 150};
constexpr DocumentSteps kTagSteps{180, 182, 184, 186};

// Thrown through a mode's walk once the results list is full, to end the run's work there.
struct ResultsFull
{
};

// Thrown through a mode's walk when the user stops the run, to end its work there.
struct RunStopped
{
};

} // namespace

// One run's steps, numbered as the error report shows them.
class ExtractionRun::Steps
{
public:
    Steps(ExtractionRun& run)
        : m_run(run), m_trap(run.m_dialogs, QStringLiteral("in Pellowin2021/08/31.Form1.PushButton7_Click "))
    {}

    void run();

private:
    void message(const QString& text) { m_run.m_dialogs.message(ShortTitle::Get(), text, Dialogs::Icon::None); }
    void extractFile(int position);
    // Loads the file's document on the worker while the window processes its events; null when
    // it could not be created, after the report.
    std::unique_ptr<LoadedDocument> loadDocument(const QString& path, const DocumentSteps& steps);
    // Makes the document's rows in a mode, reporting a document lost midway at the loop's step.
    void extractRows(LoadedDocument& document, ExtractionMode mode, const DocumentSteps& steps,
                     const std::function<QString()>& tagName, const RowSink& sink);
    RowSink appending(int step);
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
    std::unique_ptr<DocumentLoading> m_next;
    QString m_nextPath;
    int m_position = 0;
    bool m_resultsFull = false;
    QElapsedTimer m_sinceEvents;
    unsigned m_rowsSinceCheck = 0;
};

void ExtractionRun::Steps::keepAlive()
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

RowSink ExtractionRun::Steps::appending(int step)
{
    return [this, step](std::string_view row) {
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
    };
}

void ExtractionRun::Steps::prefetch(int position)
{
    if (position > m_run.m_inputs.Count())
        return;
    m_nextPath = m_run.m_inputs.ItemText(position);
    EventPump& events = m_run.m_events;
    m_next = m_run.m_documents.load(m_nextPath, [&events] { events.wake(); });
}

void ExtractionRun::Steps::dropPrefetch()
{
    if (!m_next)
        return;
    m_next->abandon();
    while (m_next->readyState() != QStringLiteral("complete"))
        m_run.m_events.waitForEvents();
    m_next.reset();
}

std::unique_ptr<LoadedDocument> ExtractionRun::Steps::loadDocument(const QString& path, const DocumentSteps& steps)
{
    std::unique_ptr<DocumentLoading> load;
    if (m_next && m_nextPath == path)
        load = std::move(m_next);
    // The list was reordered meanwhile: that load is not wanted.
    dropPrefetch();
    if (!load && !m_trap.step(steps.create, [&] {
            EventPump& events = m_run.m_events;
            load = m_run.m_documents.load(path, [&events] { events.wake(); });
        }))
        return nullptr;
    // The window stays alive while the document loads: clicks, typing, Help and closing all work.
    while (!m_run.m_stopRequested &&
           m_trap.test(steps.stateTest, [&] { return load->readyState() != QStringLiteral("complete"); }))
        m_trap.step(steps.events, [&] { m_run.m_events.waitForEvents(); });
    if (m_run.m_stopRequested) {
        load->abandon();
        return nullptr;
    }
    m_sinceEvents.start();
    std::unique_ptr<LoadedDocument> document;
    m_trap.step(steps.create, [&] {
        Result<std::unique_ptr<LoadedDocument>> loaded = load->take();
        document = std::move(ValueOrFail(loaded));
    });
    prefetch(m_position + 1);
    return document;
}

void ExtractionRun::Steps::extractFile(int position)
{
    m_position = position;
    QString path;
    if (!m_trap.step(124, [&] {
            if (position > m_run.m_inputs.Count())
                Fail(QStringLiteral("Invalid property value (the list has no item %1 any more)").arg(position));
            path = m_run.m_inputs.ItemText(position);
        }))
        return;

    const int option = m_run.m_controls.selectedOption();
    const auto noTagName = [] {
        return QString();
    };
    if (m_trap.test(126, [&] { return option == 1; })) {
        if (std::unique_ptr<LoadedDocument> document = loadDocument(path, kLeafSteps))
            extractRows(*document, ExtractionMode::LeafTexts, kLeafSteps, noTagName, appending(138));
    } else if (m_trap.test(142, [&] { return option == 2; })) {
        if (std::unique_ptr<LoadedDocument> document = loadDocument(path, kBlockSteps)) {
            // The tag name is read after the wait: a change typed meanwhile already counts.
            extractRows(*document, ExtractionMode::ElementBlocks, kBlockSteps, m_run.m_controls.tagName,
                        [&](std::string_view row) {
                            appending(row == "<tr>" ? 152 : row == "</tr>" ? 162 : 158)(row);
                        });
        }
    } else if (m_trap.test(166, [&] { return option == 3; })) {
        std::optional<LineList> lines;
        if (m_trap.step(168, [&] {
                Result<LineList> read = RFTSFSO::ReadFileLines(path);
                lines.emplace(std::move(ValueOrFail(read)));
            }))
            m_trap.step(170, [&] { EmitMatchingLines(*lines, m_run.m_controls.searchText(), appending(174)); });
    } else if (m_trap.test(178, [&] { return option == 4; })) {
        if (std::unique_ptr<LoadedDocument> document = loadDocument(path, kTagSteps))
            extractRows(*document, ExtractionMode::TagNames, kTagSteps, noTagName, appending(188));
    }
}

void ExtractionRun::Steps::extractRows(LoadedDocument& document, ExtractionMode mode, const DocumentSteps& steps,
                                       const std::function<QString()>& tagName, const RowSink& sink)
{
    m_trap.step(steps.loop, [&] {
        const RowSink paced = [&](std::string_view row) {
            keepAlive();
            sink(row);
        };
        if (std::optional<Failure> failure = document.extract(mode, tagName(), paced))
            Fail(*failure);
    });
}

void ExtractionRun::Steps::run()
{
    RunControls& controls = m_run.m_controls;
    // The checks; a text is checked only when its option is the selected one. A check that cannot be made refuses
    // the run, after its report.
    std::optional<QString> refusal;
    if (!m_trap.step(104, [&] {
            refusal = CheckRunInputs(m_run.m_inputs.Count(), static_cast<ExtractionMode>(controls.selectedOption()),
                                     controls.tagName(), controls.searchText());
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
    Steps(*this).run();
    m_runInProgress = false;
    m_stopRequested = false;
}

void ExtractionRun::Stop()
{
    if (m_runInProgress)
        m_stopRequested = true;
}
