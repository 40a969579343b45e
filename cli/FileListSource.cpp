#include "FileListSource.h"

#include "AddFolder.h"
#include "EventPump.h"
#include "FileAttributes.h"
#include "FileNames.h"
#include "FileSystem.h"
#include "Steps.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

// One thread reads the list at a time, so the stream need not lock for every byte.
int getcUnlocked(std::FILE* stream)
{
#ifdef Q_OS_WIN
    return _getc_nolock(stream);
#else
    return getc_unlocked(stream);
#endif
}

// Thrown out of a folder walk that the user stopped.
struct Stopped
{
};

// The walk lets events through regularly: where a window would, the command line sees whether it was stopped.
class NoEvents final : public EventPump
{
public:
    explicit NoEvents(const std::atomic<bool>& stopRequested) : m_stopRequested(stopRequested) {}
    void processEvents() override
    {
        if (m_stopRequested.load())
            throw Stopped{};
    }
    void waitForEvents() override { processEvents(); }
    void wake() override {}

private:
    const std::atomic<bool>& m_stopRequested;
};

// "2 hidden files, 1 lock file": what the walk's rules passed over, the counts that are not 0; empty when none is.
QString passedOverSummary(const AddFolder::PassedOver& passed)
{
    const struct
    {
        qsizetype count;
        const char* one;
        const char* many;
    } parts[] = {
        {passed.hiddenFiles, "hidden file", "hidden files"},
        {passed.lockFiles, "lock file (~)", "lock files (~)"},
        {passed.oddFolderNames, "folder whose name the code page cannot spell",
         "folders whose names the code page cannot spell"},
        {passed.tooLong, "folder whose path is too long", "folders whose paths are too long"},
    };
    QStringList said;
    for (const auto& part : parts) {
        if (part.count > 0)
            said << QStringLiteral("%1 %2").arg(part.count).arg(QLatin1String(part.count == 1 ? part.one : part.many));
    }
    return said.join(QStringLiteral(", "));
}

} // namespace

FileListSource::FileListSource(QString extension, const std::atomic<bool>& stopRequested, bool verbose)
    : m_pattern(extension.isEmpty() ? QStringLiteral("*.*") : QStringLiteral("*.") + extension),
      m_stopRequested(stopRequested), m_verbose(verbose)
{}

FileListSource::~FileListSource()
{
    if (m_list && m_list != stdin)
        std::fclose(m_list);
}

void FileListSource::expand(const QByteArray& argument)
{
    const QString path = FileNames::fromNative(argument);
    if (!AddFolder::IsFolder(path)) {
        m_pending.push_back(path);
        return;
    }
    // The walk passes over folders it cannot list; the one asked for by name is worth a word.
    if (const Result<QStringList> listing = ListDirectory(path, QStringLiteral("*"), false); !listing) {
        std::fprintf(stderr, "quillory-extract: %s: %s\n", argument.constData(),
                     listing.failure().description.toLocal8Bit().constData());
        m_namesFailed = true;
        return;
    }
    // A folder or file the scan cannot take is reported and left out; the rest of the folder still counts.
    const auto reportFailure = [&](auto, const QString& description) {
        std::fprintf(stderr, "quillory-extract: %s: %s\n", argument.constData(), description.toLocal8Bit().constData());
        m_namesFailed = true;
    };
    Steps<AddFolder::ScanStep> scanSteps(reportFailure);
    Steps<AddFolder::WalkStep> walkSteps(reportFailure);
    NoEvents noEvents(m_stopRequested);
    AddFolder::ScanProgress scanned;
    const QStringList found = AddFolder::ScanFolder(path, m_pattern, noEvents, scanSteps, walkSteps, &scanned);
    m_pending.insert(m_pending.end(), found.begin(), found.end());
    // A folder beneath that cannot be read is as much a failure as the one named: its files are missing from the run.
    const AddFolder::PassedOver& passed = scanned.passedOver;
    for (const AddFolder::PassedOver::Folder& folder : passed.unreadableFolders) {
        std::fprintf(stderr, "quillory-extract: %s: %s\n", FileNames::toNative(folder.path.chopped(1)).constData(),
                     folder.why.toLocal8Bit().constData());
        m_namesFailed = true;
    }
    // What the walk's own rules leave out is meant, and no failure; the user may still ask how much it was.
    if (m_verbose) {
        if (const QString summary = passedOverSummary(passed); !summary.isEmpty())
            std::fprintf(stderr, "quillory-extract: %s: passed over %s\n", argument.constData(),
                         summary.toLocal8Bit().constData());
    }
}

bool FileListSource::addArguments(const std::vector<std::string>& arguments)
{
    try {
        for (const std::string& argument : arguments)
            expand(QByteArray::fromStdString(argument));
    } catch (const Stopped&) {
        return false;
    }
    m_named = m_pending.size();
    return !m_stopRequested.load();
}

bool FileListSource::openList(const std::string& path, bool nulSeparated)
{
    m_delimiter = nulSeparated ? '\0' : '\n';
    m_list = path == "-" ? stdin : FileSystem::openStream(FileNames::fromNative(QByteArray::fromStdString(path)));
    if (!m_list) {
        std::fprintf(stderr, "quillory-extract: %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    return true;
}

std::optional<QByteArray> FileListSource::nextListEntry()
{
    // Empty entries (blank lines) are passed over.
    for (;;) {
        QByteArray entry;
        int c = 0;
        bool any = false;
        while ((c = getcUnlocked(m_list)) != EOF) {
            any = true;
            if (c == m_delimiter)
                break;
            entry.append(char(c));
        }
        if (!any)
            return std::nullopt;
#ifdef Q_OS_WIN
        // A list written on Windows ends its lines with CR LF ("dir /b /s > list.txt"); no Windows name ends in CR.
        if (m_delimiter == '\n' && entry.endsWith('\r'))
            entry.chop(1);
#endif
        if (!entry.isEmpty())
            return entry;
    }
}

std::optional<QString> FileListSource::next()
{
    try {
        while (m_pending.empty() && m_list) {
            const std::optional<QByteArray> entry = nextListEntry();
            if (!entry)
                break;
            expand(*entry);
        }
    } catch (const Stopped&) {
        return std::nullopt;
    }
    if (m_pending.empty())
        return std::nullopt;
    QString file = std::move(m_pending.front());
    m_pending.pop_front();
    return file;
}
