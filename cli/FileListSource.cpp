#include "FileListSource.h"

#include "AddFolder.h"
#include "EventPump.h"
#include "FileAttributes.h"
#include "FileNames.h"
#include "FileSystem.h"
#include "StandardStreams.h"
#include "Steps.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <utility>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

// The names read and not yet taken: enough to keep the run going, few enough that a list of any length costs the
// same memory.
constexpr std::size_t kMostReadAhead = 4096;
// A stop set from a signal handler notifies nobody: a wait for the list's next name looks at it again this often.
constexpr std::chrono::milliseconds kStopCheck{50};

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
    if (!m_list)
        return;
    bool ended = false;
    {
        const std::lock_guard lock(m_list->mutex);
        m_list->abandoned = true;
        ended = m_list->ended;
    }
    m_list->room.notify_all();
    // A reader still waiting for the list's next name (the run was stopped, the list's writer goes on) may wait for
    // ever: it is left to the program's end, and holds a share of the list so that nothing it uses goes before it.
    if (!m_reader.joinable())
        return;
    if (ended)
        m_reader.join();
    else
        m_reader.detach();
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
    // Either would read as an empty list, and a run over no files would pass for one that did its work.
    if (path == "-" && StandardStreams::WasClosed(0)) {
        std::fprintf(stderr, "quillory-extract: --files-from -: standard input is closed\n");
        return false;
    }
    const QString name = FileNames::fromNative(QByteArray::fromStdString(path));
    if (path != "-" && AddFolder::IsFolder(name)) {
        std::fprintf(stderr, "quillory-extract: %s: is a folder, not a list of files\n", path.c_str());
        return false;
    }
    std::FILE* stream = path == "-" ? stdin : FileSystem::openStream(name);
    if (!stream) {
        std::fprintf(stderr, "quillory-extract: %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    m_list = std::make_shared<List>();
    m_list->stream = stream;
    m_list->delimiter = nulSeparated ? '\0' : '\n';
    m_listName = path == "-" ? QByteArrayLiteral("(standard input)") : QByteArray::fromStdString(path);
    m_list->block.resize(1 << 16);
    return true;
}

FileListSource::List::~List()
{
    if (stream && stream != stdin)
        std::fclose(stream);
}

void FileListSource::readList(const std::shared_ptr<List>& list, const std::atomic<bool>& stopRequested)
{
    while (readSome(*list, stopRequested)) {
    }
}

bool FileListSource::readSome(List& list, const std::atomic<bool>& stopRequested)
{
    // The list's bytes are read as they come, straight from its descriptor: a name is the run's as soon as its
    // delimiter arrives, whatever more a buffered stream would wait for.
#ifdef Q_OS_WIN
    const int descriptor = ::_fileno(list.stream);
    const int count = ::_read(descriptor, list.block.data(), unsigned(list.block.size()));
#else
    const int descriptor = ::fileno(list.stream);
    const ssize_t count = ::read(descriptor, list.block.data(), std::size_t(list.block.size()));
#endif
    if (count < 0 && errno == EINTR && !stopRequested.load())
        return true;
    const auto hand = [&](QByteArray name) {
        ++list.line;
        // Blank lines are passed over.
        if (name.isEmpty())
            return true;
        std::unique_lock lock(list.mutex);
        // Read on the run's own thread, the list is read only when the run has taken every name: it cannot wait.
        if (list.ownThread)
            list.room.wait(lock, [&] { return list.entries.size() < kMostReadAhead || list.abandoned; });
        if (list.abandoned)
            return false;
        list.entries.push_back(ListEntry{std::move(name), list.line});
        list.changed.notify_all();
        return true;
    };
    bool going = count > 0;
    int error = 0;
    if (count <= 0) {
        if (count < 0 && errno != EINTR)
            error = errno;
        // The last name needs no delimiter after it.
        if (!list.partial.isEmpty())
            hand(std::exchange(list.partial, QByteArray()));
    }
    const char* bytes = list.block.constData();
    const char* const end = bytes + std::max<qint64>(count, 0);
    while (going && bytes < end) {
        const char* delimiter = static_cast<const char*>(std::memchr(bytes, list.delimiter, std::size_t(end - bytes)));
        if (!delimiter) {
            list.partial.append(bytes, end - bytes);
            break;
        }
        list.partial.append(bytes, delimiter - bytes);
        going = hand(std::exchange(list.partial, QByteArray()));
        bytes = delimiter + 1;
    }
    if (going)
        return true;
    const std::lock_guard lock(list.mutex);
    list.ended = true;
    list.error = error;
    list.changed.notify_all();
    return false;
}

void FileListSource::startReading()
{
    if (std::exchange(m_readingStarted, true))
        return;
    m_list->ownThread = true;
    try {
        m_reader = std::thread(readList, m_list, std::cref(m_stopRequested));
    } catch (const std::system_error&) {
        // The system allows no more threads: the list is read here, as the run asks for its names.
        m_list->ownThread = false;
    }
}

std::optional<FileListSource::ListEntry> FileListSource::takeListEntry(bool wait)
{
    if (wait && !m_list->ownThread) {
        bool empty = true;
        do {
            {
                const std::lock_guard lock(m_list->mutex);
                empty = m_list->entries.empty() && !m_list->ended;
            }
        } while (empty && !m_stopRequested.load() && readSome(*m_list, m_stopRequested));
    }
    std::unique_lock lock(m_list->mutex);
    const auto ready = [&] {
        return !m_list->entries.empty() || m_list->ended || m_stopRequested.load();
    };
    if (wait) {
        while (!m_list->changed.wait_for(lock, kStopCheck, ready)) {
        }
    }
    if (m_stopRequested.load())
        throw Stopped{};
    if (m_list->entries.empty()) {
        if (m_list->ended && !m_listDone) {
            m_listDone = true;
            if (m_list->error != 0) {
                std::fprintf(stderr, "quillory-extract: %s: %s\n", m_listName.constData(),
                             std::strerror(m_list->error));
                m_namesFailed = true;
            }
        }
        return std::nullopt;
    }
    ListEntry entry = std::move(m_list->entries.front());
    m_list->entries.pop_front();
    lock.unlock();
    m_list->room.notify_all();
    return entry;
}

void FileListSource::take(ListEntry entry)
{
#ifdef Q_OS_WIN
    // A list written on Windows ends its lines with CR LF ("dir /b /s > list.txt"); no Windows name ends in CR.
    if (m_list->delimiter == '\n' && entry.name.endsWith('\r'))
        entry.name.chop(1);
#endif
    // No name holds a NUL, and the system would read one as the end of the name: "/etc/passwd\0.html" would
    // open /etc/passwd.
    if (entry.name.contains('\0')) {
        std::fprintf(stderr, "quillory-extract: %s:%llu: a name holding a NUL byte is left out\n",
                     m_listName.constData(), static_cast<unsigned long long>(entry.line));
        m_namesFailed = true;
        return;
    }
    if (!entry.name.isEmpty())
        expand(entry.name);
}

bool FileListSource::ready()
{
    if (m_list)
        startReading();
    try {
        // The names that have come are taken (a folder walked, a name left out) until one gives a file.
        while (m_pending.empty() && m_list && !m_listDone) {
            std::optional<ListEntry> entry = takeListEntry(false);
            if (!entry)
                return m_listDone;
            take(std::move(*entry));
        }
    } catch (const Stopped&) {
    }
    return true;
}

std::optional<QString> FileListSource::next()
{
    if (m_list)
        startReading();
    try {
        while (m_pending.empty() && m_list && !m_listDone) {
            std::optional<ListEntry> entry = takeListEntry(true);
            if (entry)
                take(std::move(*entry));
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
